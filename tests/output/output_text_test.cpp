// What a client's bytes become in the output file, and which output files and dumps retention
// takes, by their names.
#include "output/output_text.h"

#include <gtest/gtest.h>

namespace keldran {
namespace {

constexpr std::uint64_t kMB = 1 << 20;
const std::string kLong(output_limits::kMaxLine, 'a');
const std::string kCut = "T out " + kLong + std::string(kCutMarker) + "\r\n";

struct Chunk {
  OutputStream stream;
  std::string data;
};
constexpr OutputStream kOut = OutputStream::kOut;
constexpr OutputStream kErr = OutputStream::kErr;

TEST(OutputTextTest, FramesLinesPerStreamCutsLongOnesAndStopsAtTheCapWithOneNote) {
  const struct {
    std::vector<Chunk> chunks;
    std::uint64_t roomBeforeCap;  // 0: no cap
    std::string file;
    std::string note = "";
  } cases[] = {
      // Bytes as written, a CR before the LF dropped.
      {{{kOut, "a\r\nb\x01\tc\n\n"}}, 0, "T out a\r\nT out b\x01\tc\r\nT out \r\n"},
      // A line split over reads; a lone CR stays; the unfinished line at the end.
      {{{kOut, "ab"}, {kOut, "c\nx\ry"}}, 0, "T out abc\r\nT out x\ry\r\n"},
      // Each stream keeps its own line under way.
      {{{kOut, "o1"}, {kErr, "e1\n"}, {kOut, "\n"}}, 0, "T err e1\r\nT out o1\r\n"},
      // A line of the limit with CR LF is whole; a longer one is cut once, its rest skipped.
      {{{kOut, kLong + "\r\n"}}, 0, "T out " + kLong + "\r\n"},
      {{{kOut, kLong + "bbbb"}, {kOut, "cc\nnext\n"}}, 0, kCut + "T out next\r\n"},
      // At the cap every later line is counted, also one that would fit.
      {{{kOut, "1\n22\n3\n"}},
       12,
       "T out 1\r\n",
       "T note 2 lines (3 bytes) not written: the day's output reached its cap of 1 MB "
       "(OutputMaxMB)\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.substr(0, 40));
    LineState lines[2];
    DayBudget day;
    if (c.roomBeforeCap != 0) day = DayBudget{kMB, kMB - c.roomBeforeCap};
    std::string file;
    for (const Chunk& chunk : c.chunks) {
      file += FrameOutput(lines[static_cast<int>(chunk.stream)], day, chunk.stream, "T", chunk.data,
                          false)
                  .text;
    }
    for (OutputStream stream : {kOut, kErr})
      file += FrameOutput(lines[static_cast<int>(stream)], day, stream, "T", {}, true).text;
    EXPECT_EQ(file, c.file);
    EXPECT_EQ(DropNote(day, "T"), c.note);
    EXPECT_EQ(DropNote(day, "T"), "") << "one note for what was dropped";
  }
}

TEST(OutputTextTest, RetentionTakesOnlyTheComponentsOldOutputFilesAndDumpsBeyondTheCount) {
  const LocalTime today{2024, 3, 0, 10, 9, 5, 7, 0};
  EXPECT_EQ(OutputFileName("Grid", today), "Grid-output-2024-03-10.log");
  EXPECT_EQ(DumpFileName("Grid", 1234, today), "Grid-1234-20240310-090507.dmp");

  const std::vector<std::string> outputs = {
      "Grid-output-2024-03-03.log",      // 7 days old: kept
      "Grid-output-2024-03-02.log",      // 8: goes
      "grid-OUTPUT-2023-12-31.LOG",      // goes: names ignore case
      "Grid-Lab-output-2024-01-01.log",  // the component Grid-Lab's
      "Grid-output-2024-13-01.log",      // no date
      "2024-01-01.log",                  // the host's log: LogKeepDays' own business
  };
  EXPECT_EQ(OldOutputFiles(outputs, "Grid", today, 7),
            (std::vector<std::string>{"Grid-output-2024-03-02.log", "grid-OUTPUT-2023-12-31.LOG"}));
  EXPECT_TRUE(OldOutputFiles(outputs, "Grid", today, 0).empty());

  const std::vector<std::string> dumps = {
      "Grid-100-20240301-090000.dmp",     "grid-300-20240303-090000.DMP",
      "Grid-7-20230101-000000.dmp",       "Grid-200-20240302-090000.dmp",
      "Grid-Lab-400-20200101-000000.dmp",  // the component Grid-Lab's
      "Grid-5-20200101-000000.dmp.txt",   DumpFileName("Grid", 9, today),
  };
  EXPECT_EQ(
      DumpsBeyondKeep(dumps, "Grid", 2),
      (std::vector<std::string>{"Grid-200-20240302-090000.dmp", "Grid-100-20240301-090000.dmp",
                                "Grid-7-20230101-000000.dmp"}));
  EXPECT_TRUE(DumpsBeyondKeep(dumps, "Grid", 5).empty());
  EXPECT_TRUE(DumpsBeyondKeep(dumps, "Grid", 0).empty()) << "dumps off: those there stay";
}

}  // namespace
}  // namespace keldran
