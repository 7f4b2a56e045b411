#include "config/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace keldran {
namespace {

bool EqualsIgnoreCase(const std::string& a, const char* b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// What "%d%c" accepts as exactly one item: an optional sign and digits, nothing after. Values
// beyond a 32-bit integer are refused too.
bool ParseTimeout(const std::string& text, std::int32_t* value) {
  const char* begin = text.c_str();
  while (*begin == ' ' || *begin == '\t') ++begin;
  if (*begin == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(begin, &end, 10);
  if (end == begin || *end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX)
    return false;
  *value = static_cast<std::int32_t>(parsed);
  return true;
}

// The option tokeniser: from the cursor, the next "/" or "-" (anywhere, also inside a word)
// starts an option that runs to the next blank; the cursor is left after the blanks that follow.
class OptionTokens {
 public:
  OptionTokens(ISystemTexts& texts, const std::string& line) : texts_(texts), line_(line) {}

  bool Next(std::string* token) {
    while (cursor_ < line_.size() && line_[cursor_] != '/' && line_[cursor_] != '-')
      cursor_ = texts_.CharNext(line_, cursor_);
    if (cursor_ >= line_.size()) return false;
    const std::size_t start = ++cursor_;
    while (cursor_ < line_.size() && line_[cursor_] != ' ') ++cursor_;
    *token = line_.substr(start, cursor_ - start);
    while (cursor_ < line_.size() && line_[cursor_] == ' ') ++cursor_;
    return true;
  }
  // After an option only the end of the text or another option may follow.
  bool AtOptionOrEnd() const {
    return cursor_ >= line_.size() || line_[cursor_] == '/' || line_[cursor_] == '-';
  }

 private:
  ISystemTexts& texts_;
  const std::string& line_;
  std::size_t cursor_ = 0;
};

// The leading words (split at blanks only) up to the first option. The whole command line is
// honoured, however long.
std::string ComponentOf(const std::string& commandLine) {
  std::string component;
  std::size_t pos = 0;
  while (pos < commandLine.size()) {
    const std::size_t blank = commandLine.find(' ', pos);
    const std::string word =
        commandLine.substr(pos, blank == std::string::npos ? std::string::npos : blank - pos);
    pos = blank == std::string::npos ? commandLine.size() : blank + 1;
    if (word.empty()) continue;
    if (word[0] == '/' || word[0] == '-') break;
    if (!component.empty()) component += ' ';
    component += word;
  }
  return component.empty() ? names::kDefaultComponent : component;
}

}  // namespace

CommandLineResult ParseCommandLine(ISystemTexts& texts, const std::string& commandLine) {
  using Kind = CommandLineSetting::Kind;
  CommandLineResult result;
  ParsedCommandLine& p = result.parsed;
  RunFlags& f = p.flags;
  p.component = ComponentOf(commandLine);
  f.RunAsService = (commandLine + " ").find("/Service ") != std::string::npos;

  auto bothLists = [&p](const char* entry) {
    p.givenOptions += entry;
    p.givenRegOptions += entry;
  };
  OptionTokens tokens(texts, commandLine);
  std::string token;
  while (tokens.Next(&token)) {
    if (!tokens.AtOptionOrEnd()) {
      result.rejection = "Unrecognized value following option /" + token;
      return result;
    }
    if (EqualsIgnoreCase(token, "Service")) {
      f.RunAsService = f.ServiceSwitch = f.Quiet = true;
      p.givenOptions += "/Service ";
    } else if (EqualsIgnoreCase(token, "Quiet")) {
      f.Quiet = true;
    } else if (EqualsIgnoreCase(token, "Reg")) {
      f.RegApp = f.RegServ = true;
      bothLists("/Reg ");
    } else if (EqualsIgnoreCase(token, "RegApp")) {
      f.RegApp = true;
      bothLists("/RegApp ");
    } else if (EqualsIgnoreCase(token, "RegServ")) {
      f.RegServ = true;
      bothLists("/RegServ ");
    } else if (EqualsIgnoreCase(token, "RegService")) {
      f.RegServ = true;
      bothLists("/RegService ");
    } else if (EqualsIgnoreCase(token, "UnReg")) {
      f.UnReg = true;
      p.givenOptions += "/UnReg ";
    } else if (EqualsIgnoreCase(token, "Commit")) {
      f.RegServ = f.CommitStep = f.Quiet = true;
      bothLists("/Commit ");
    } else if (EqualsIgnoreCase(token, "Uninstall")) {
      f.UnReg = f.RemoveStep = f.Quiet = true;
      bothLists("/Uninstall ");
    } else if (EqualsIgnoreCase(token, "Rollback")) {
      f.UnReg = f.RemoveStep = f.Quiet = true;
      bothLists("/Rollback ");
    } else if (EqualsIgnoreCase(token, "Debug")) {
      p.givenOptions += "/Debug ";
      p.settings.push_back({Kind::kDebug});
    } else if (EqualsIgnoreCase(token, "Release")) {
      p.givenOptions += "/Release ";
      p.settings.push_back({Kind::kRelease});
    } else if (token.size() >= 8 && EqualsIgnoreCase(token.substr(0, 8), "Timeout=")) {
      p.givenOptions += "/" + token + " ";
      std::int32_t seconds = 0;
      if (!ParseTimeout(token.substr(8), &seconds) || seconds < 0) {
        result.rejection = "Unrecognized parameter value specified for option /" + token;
        return result;
      }
      p.settings.push_back({Kind::kTimeout, seconds});
    } else if (EqualsIgnoreCase(token, "Show")) {
      p.givenOptions += "/Show ";
      p.settings.push_back({Kind::kShow});
    } else if (EqualsIgnoreCase(token, "Hide")) {
      p.givenOptions += "/Hide ";
      p.settings.push_back({Kind::kHide});
    } else if (EqualsIgnoreCase(token, "Auto") || EqualsIgnoreCase(token, "AutoStart")) {
      p.givenOptions += "/" + token + " ";
      p.settings.push_back({Kind::kAutoStart});
    } else if (EqualsIgnoreCase(token, "Manual")) {
      p.givenOptions += "/Manual ";
      p.settings.push_back({Kind::kManual});
    } else if (EqualsIgnoreCase(token, "Start")) {
      f.StartRequested = true;
    } else if (EqualsIgnoreCase(token, "Stop")) {
      f.StopRequested = true;
    } else if (EqualsIgnoreCase(token, "Status")) {
      // Answers on the console, never with a box.
      f.StatusRequested = f.Quiet = true;
    } else if (EqualsIgnoreCase(token, "Check")) {
      f.CheckRequested = f.Quiet = true;
    } else {
      result.rejection = "Option /" + token + " not recognized";
      return result;
    }
  }
  return result;
}

std::optional<std::string> CheckOptionCombination(const ParsedCommandLine& parsed) {
  const RunFlags& f = parsed.flags;
  if (f.UnReg && (f.RegApp || f.RegServ))
    return "You cannot code /UnReg and " + parsed.givenRegOptions + " options together";
  if (f.StartRequested && f.StopRequested)
    return std::string("You cannot code /Start option together with /Stop");
  if ((f.StartRequested || f.StopRequested) && !parsed.givenOptions.empty()) {
    return std::string("You cannot code /") + (f.StartRequested ? "Start" : "Stop") +
           " option together with " + parsed.givenOptions;
  }
  // /Status and /Check stand alone (with /Quiet at most).
  const char* alone = f.StatusRequested ? "Status" : f.CheckRequested ? "Check" : nullptr;
  if (alone) {
    std::string others = parsed.givenOptions;
    if (f.StatusRequested && f.CheckRequested) others += "/Check ";
    if (f.StartRequested) others += "/Start ";
    if (f.StopRequested) others += "/Stop ";
    if (!others.empty())
      return std::string("You cannot code /") + alone + " option together with " + others;
  }
  return std::nullopt;
}

void ApplyCommandLineSettings(const std::vector<CommandLineSetting>& settings,
                              Configuration* config) {
  using Kind = CommandLineSetting::Kind;
  bool timeoutGiven = false, showGiven = false, hideGiven = false;
  for (const auto& setting : settings) {
    switch (setting.kind) {
      case Kind::kDebug:
        config->Debug = 1;
        if (!timeoutGiven) config->Timeout = 0;
        if (!hideGiven) config->Show = 1;
        break;
      case Kind::kRelease:
        config->Debug = 0;
        if (!timeoutGiven && config->Timeout == 0) config->Timeout = 60;
        if (!showGiven) config->Show = 0;
        break;
      case Kind::kTimeout:
        config->Timeout = setting.value;
        timeoutGiven = true;
        break;
      case Kind::kShow:
        config->Show = 1;
        showGiven = true;
        break;
      case Kind::kHide:
        config->Show = 0;
        hideGiven = true;
        break;
      case Kind::kAutoStart:
        config->AutoStart = 1;
        break;
      case Kind::kManual:
        config->AutoStart = 0;
        break;
    }
  }
}

}  // namespace keldran
