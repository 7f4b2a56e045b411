#pragma once
// What a client's output and its dumps become, as pure functions: the lines of the day's output
// file (each with its time and stream, cut when too long, kept out beyond the day's cap and
// counted for one note), the last lines of standard error that an end record quotes, and the
// names of the output files and dumps with the ones that retention removes.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace keldran {

namespace output_limits {
// A line keeps its first 4096 bytes; the rest, up to its line feed, is skipped and the line ends
// with kCutMarker.
constexpr std::size_t kMaxLine = 4096;
// The end of a client that dies quotes its last 3 non-blank lines of standard error, each cut to
// 200 bytes.
constexpr std::size_t kTailLines = 3;
constexpr std::size_t kTailLine = 200;
}  // namespace output_limits

constexpr std::string_view kCutMarker = " [cut: longer than 4096 bytes]";

enum class OutputStream { kOut = 0, kErr = 1 };

// One stream's line under way.
struct LineState {
  std::string partial;   // at most kMaxLine bytes, and a CR that may come before the LF
  bool cutting = false;  // the line was cut and written: its rest is skipped to its LF
};

// The day's output file: its size and what the cap kept out of it.
struct DayBudget {
  std::uint64_t cap = 0;   // bytes; 0: none
  std::uint64_t size = 0;  // bytes in the file
  bool full = false;       // a line did not fit: the rest of the day is counted, not written
  std::uint64_t droppedLines = 0;  // since the last note
  std::uint64_t droppedBytes = 0;
};

struct Framed {
  std::string text;                // to append to the file
  std::vector<std::string> lines;  // standard error's lines (cut), written or not
};

// Frames a stream's bytes into the file's lines: "<stamp> out <bytes>\r\n" (or "err"), a CR
// before the LF dropped, other bytes as they came. end: the stream ended, and an unfinished line
// is a line.
Framed FrameOutput(LineState& line, DayBudget& day, OutputStream stream, std::string_view stamp,
                   std::string_view data, bool end);
// The note that says how many lines the cap kept out since the last note; empty when none.
std::string DropNote(DayBudget& day, std::string_view stamp);
// Adds standard error's lines to the tail: the non-blank ones, cut, NULs taken out, the last
// kTailLines kept; and the tail as one text, "a | b | c".
void KeepTail(std::deque<std::string>& tail, const std::vector<std::string>& lines);
std::string TailText(const std::deque<std::string>& tail);

// "HH:MM:SS.mmm".
std::string TimeStamp(const LocalTime& now);
// "<component>-output-YYYY-MM-DD.log".
std::string OutputFileName(std::string_view component, const LocalTime& day);
// The component's output files (by their names) more than keepDays days before today; none when
// keepDays is 0 or less.
std::vector<std::string> OldOutputFiles(const std::vector<std::string>& names,
                                        std::string_view component, const LocalTime& today,
                                        std::int32_t keepDays);
// "<component>-<pid>-YYYYMMDD-HHMMSS.dmp".
std::string DumpFileName(std::string_view component, std::uint32_t processId, const LocalTime& now);
// The component's dumps (by their names) beyond the newest keep ones, by the time in their
// names; none when keep is 0 or less (dumps are off, and those there are stay).
std::vector<std::string> DumpsBeyondKeep(const std::vector<std::string>& names,
                                         std::string_view component, std::int32_t keep);

}  // namespace keldran
