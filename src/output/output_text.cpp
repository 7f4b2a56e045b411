#include "output/output_text.h"

#include <algorithm>
#include <optional>

#include "log/error_text.h"
#include "log/log.h"
#include "log/text.h"

namespace keldran {
namespace {

constexpr std::uint64_t kMegabyte = 1024 * 1024;

class Framer {
 public:
  Framer(LineState& line, DayBudget& day, OutputStream stream, std::string_view stamp)
      : line_(line),
        day_(day),
        stamp_(stamp),
        name_(stream == OutputStream::kOut ? "out" : "err"),
        keepLines_(stream == OutputStream::kErr) {}

  // Bytes without a line feed.
  void Append(std::string_view bytes) {
    if (line_.cutting) return;
    std::string& partial = line_.partial;
    const std::size_t room = output_limits::kMaxLine + 1 - partial.size();
    const std::size_t taken = std::min(room, bytes.size());
    partial.append(bytes.substr(0, taken));
    // One byte past the limit is kept only while it may be the CR of a CR LF.
    if (partial.size() > output_limits::kMaxLine &&
        (partial.back() != '\r' || bytes.size() > taken)) {
      partial.resize(output_limits::kMaxLine);
      Emit(kCutMarker);
      partial.clear();
      line_.cutting = true;
    }
  }

  void EndLine() {
    if (std::exchange(line_.cutting, false)) return;
    if (!line_.partial.empty() && line_.partial.back() == '\r') line_.partial.pop_back();
    Emit({});
    line_.partial.clear();
  }

  void EndStream() {
    if (!line_.cutting && !line_.partial.empty()) Emit({});
    line_ = LineState{};
  }

  Framed framed;

 private:
  void Emit(std::string_view marker) {
    const std::string& text = line_.partial;
    if (keepLines_) framed.lines.push_back(text);
    const std::size_t size = stamp_.size() + 5 + text.size() + marker.size() + 2;
    if (!day_.full && day_.cap != 0 && day_.size + size > day_.cap) day_.full = true;
    if (day_.full) {
      ++day_.droppedLines;
      day_.droppedBytes += text.size();
      return;
    }
    std::string& out = framed.text;
    out.append(stamp_).append(" ").append(name_).append(" ").append(text).append(marker);
    out.append("\r\n");
    day_.size += size;
  }

  LineState& line_;
  DayBudget& day_;
  std::string_view stamp_;
  const char* name_;
  bool keepLines_;
};

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The rest of a name after the component and a dash, ignoring case as Windows names do.
std::optional<std::string_view> AfterComponent(std::string_view name, std::string_view component) {
  if (name.size() <= component.size() + 1 || name[component.size()] != '-' ||
      !EqualsIgnoringCase(name.substr(0, component.size()), component)) {
    return std::nullopt;
  }
  return name.substr(component.size() + 1);
}

}  // namespace

Framed FrameOutput(LineState& line, DayBudget& day, OutputStream stream, std::string_view stamp,
                   std::string_view data, bool end) {
  Framer framer(line, day, stream, stamp);
  for (std::size_t pos = 0; pos < data.size();) {
    const std::size_t lf = data.find('\n', pos);
    framer.Append(
        data.substr(pos, lf == std::string_view::npos ? std::string_view::npos : lf - pos));
    if (lf == std::string_view::npos) break;
    framer.EndLine();
    pos = lf + 1;
  }
  if (end) framer.EndStream();
  return std::move(framer.framed);
}

std::string DropNote(DayBudget& day, std::string_view stamp) {
  if (day.droppedLines == 0) return {};
  const std::string note =
      std::string(stamp) +
      Format(
          " note %llu lines (%llu bytes) not written: the day's output reached its cap of "
          "%llu MB (OutputMaxMB)\r\n",
          static_cast<unsigned long long>(day.droppedLines),
          static_cast<unsigned long long>(day.droppedBytes),
          static_cast<unsigned long long>(day.cap / kMegabyte));
  day.droppedLines = day.droppedBytes = 0;
  day.size += note.size();
  return note;
}

void KeepTail(std::deque<std::string>& tail, const std::vector<std::string>& lines) {
  for (std::string line : lines) {
    std::erase(line, '\0');
    if (line.find_first_not_of(" \t\r\f\v") == std::string::npos) continue;
    if (line.size() > output_limits::kTailLine) line.resize(output_limits::kTailLine);
    tail.push_back(std::move(line));
    if (tail.size() > output_limits::kTailLines) tail.pop_front();
  }
}

std::string TailText(const std::deque<std::string>& tail) {
  std::string text;
  for (const std::string& line : tail) text += (text.empty() ? "" : " | ") + line;
  return text;
}

std::string TimeStamp(const LocalTime& now) {
  return Format("%02u:%02u:%02u.%03u", now.hour, now.minute, now.second, now.milliseconds);
}

std::string OutputFileName(std::string_view component, const LocalTime& day) {
  return std::string(component) +
         Format("-output-%04u-%02u-%02u.log", day.year, day.month, day.day);
}

std::vector<std::string> OldOutputFiles(const std::vector<std::string>& names,
                                        std::string_view component, const LocalTime& today,
                                        std::int32_t keepDays) {
  std::vector<std::string> old;
  if (keepDays <= 0) return old;
  const std::int64_t now = DayNumber(today.year, today.month, today.day);
  for (const std::string& name : names) {
    // "output-YYYY-MM-DD.log" after the component.
    const auto rest = AfterComponent(name, component);
    if (!rest || rest->size() != 21 || !EqualsIgnoringCase(rest->substr(0, 7), "output-") ||
        !EqualsIgnoringCase(rest->substr(17), ".log") || (*rest)[11] != '-' || (*rest)[14] != '-' ||
        !AllDigits(rest->substr(7, 4)) || !AllDigits(rest->substr(12, 2)) ||
        !AllDigits(rest->substr(15, 2))) {
      continue;
    }
    const auto number = [&](std::size_t at, std::size_t n) {
      return static_cast<unsigned>(std::stoul(std::string(rest->substr(at, n))));
    };
    const unsigned month = number(12, 2), day = number(15, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31) continue;
    if (now - DayNumber(static_cast<int>(number(7, 4)), month, day) > keepDays) old.push_back(name);
  }
  return old;
}

std::string DumpFileName(std::string_view component, std::uint32_t processId,
                         const LocalTime& now) {
  return std::string(component) + Format("-%u-%04u%02u%02u-%02u%02u%02u.dmp", processId, now.year,
                                         now.month, now.day, now.hour, now.minute, now.second);
}

std::vector<std::string> DumpsBeyondKeep(const std::vector<std::string>& names,
                                         std::string_view component, std::int32_t keep) {
  // (the time in the name, the name) of each of the component's dumps.
  std::vector<std::pair<std::string, std::string>> dumps;
  for (const std::string& name : names) {
    // "<pid>-YYYYMMDD-HHMMSS.dmp" after the component.
    const auto rest = AfterComponent(name, component);
    if (!rest || rest->size() < 21) continue;
    const std::size_t timeAt = rest->size() - 19;
    const std::string_view time = rest->substr(timeAt, 15);
    if ((*rest)[timeAt - 1] != '-' || !AllDigits(rest->substr(0, timeAt - 1)) || time[8] != '-' ||
        !AllDigits(time.substr(0, 8)) || !AllDigits(time.substr(9)) ||
        !EqualsIgnoringCase(rest->substr(rest->size() - 4), ".dmp")) {
      continue;
    }
    dumps.emplace_back(std::string(time), name);
  }
  if (keep <= 0 || dumps.size() <= static_cast<std::size_t>(keep)) return {};
  std::sort(dumps.begin(), dumps.end(), std::greater<>());
  std::vector<std::string> beyond;
  for (std::size_t i = static_cast<std::size_t>(keep); i < dumps.size(); ++i)
    beyond.push_back(dumps[i].second);
  return beyond;
}

}  // namespace keldran
