// The command line: the component, the options with their flags and settings, their combination,
// and the settings applied over the INI file's values.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "check.h"
#include "config/command_line.h"
#include "platform/fake/fake_system_texts.h"

namespace keldran {
namespace {

using Kind = CommandLineSetting::Kind;

bool SameFlags(const RunFlags& a, const RunFlags& b) {
  return a.Quiet == b.Quiet && a.ServiceSwitch == b.ServiceSwitch &&
         a.StartRequested == b.StartRequested && a.StopRequested == b.StopRequested &&
         a.StatusRequested == b.StatusRequested && a.CheckRequested == b.CheckRequested &&
         a.RegApp == b.RegApp && a.RegServ == b.RegServ && a.UnReg == b.UnReg &&
         a.CommitStep == b.CommitStep && a.RemoveStep == b.RemoveStep;
}

bool SameSettings(const std::vector<CommandLineSetting>& a,
                  const std::vector<CommandLineSetting>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].value != b[i].value) return false;
  }
  return true;
}

bool SameOutcome(const CommandLineResult& a, const CommandLineResult& b) {
  return a.rejection.has_value() == b.rejection.has_value() &&
         SameFlags(a.parsed.flags, b.parsed.flags) &&
         SameSettings(a.parsed.settings, b.parsed.settings);
}

std::string Replaced(const std::string& line, char from, const std::string& to) {
  std::string out;
  for (const char c : line) c == from ? out += to : out += c;
  return out;
}

std::string SwappedCase(std::string line) {
  for (char& c : line) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return line;
}

// The last setting of the given kinds, if any.
std::optional<Kind> LastOf(const std::vector<CommandLineSetting>& settings, Kind a, Kind b) {
  std::optional<Kind> last;
  for (const auto& s : settings) {
    if (s.kind == a || s.kind == b) last = s.kind;
  }
  return last;
}

// What the administrator typed wins over whatever the INI file said.
void CheckSettingsWin(const std::vector<CommandLineSetting>& settings, const Configuration& ini) {
  Configuration c = ini;
  ApplyCommandLineSettings(settings, &c);
  std::optional<std::int32_t> timeout;
  for (const auto& s : settings) {
    if (s.kind == Kind::kTimeout) timeout = s.value;
  }
  if (timeout) FUZZ_CHECK(c.Timeout == *timeout);
  if (const auto show = LastOf(settings, Kind::kShow, Kind::kHide))
    FUZZ_CHECK(c.Show == (*show == Kind::kShow ? 1 : 0));
  if (const auto debug = LastOf(settings, Kind::kDebug, Kind::kRelease))
    FUZZ_CHECK(c.Debug == (*debug == Kind::kDebug ? 1 : 0));
  else
    FUZZ_CHECK(c.Debug == ini.Debug);
  if (const auto start = LastOf(settings, Kind::kAutoStart, Kind::kManual))
    FUZZ_CHECK(c.AutoStart == (*start == Kind::kAutoStart ? 1 : 0));
  else
    FUZZ_CHECK(c.AutoStart == ini.AutoStart);
  if (settings.empty()) {
    FUZZ_CHECK(c.Timeout == ini.Timeout && c.Show == ini.Show);
  }
}

}  // namespace
}  // namespace keldran

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace keldran;
  const std::string line = fuzz::Text(data, size);
  fake::FakeSystemTexts texts("");
  const CommandLineResult result = ParseCommandLine(texts, line);
  const ParsedCommandLine& p = result.parsed;
  const RunFlags& f = p.flags;

  const std::size_t quotes = static_cast<std::size_t>(std::count(line.begin(), line.end(), '"'));
  FUZZ_CHECK(!p.component.empty());
  if (quotes == 0) {
    // Only quotes keep blanks or a leading sign in the component.
    FUZZ_CHECK(p.component.front() != ' ' && p.component.back() != ' ');
    FUZZ_CHECK(p.component.find("  ") == std::string::npos);
    FUZZ_CHECK(p.component.front() != '/' && p.component.front() != '-');
  }
  if (result.rejection) FUZZ_CHECK(result.rejection->size() <= line.size() + 64);

  // Without a word that begins with an option sign the whole line, however long, names the
  // component: a sign inside a word is text.
  bool optionWord = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if ((line[i] == '/' || line[i] == '-') && (i == 0 || line[i - 1] == ' ')) optionWord = true;
  }
  if (quotes == 0 && !optionWord) {
    FUZZ_CHECK(!result.rejection && SameFlags(f, RunFlags{}) && p.settings.empty());
    std::string words;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] != ' ' && !words.empty() && line[i - 1] == ' ') words += ' ';
      if (line[i] != ' ') words += line[i];
    }
    FUZZ_CHECK(p.component == (words.empty() ? "Grid" : words));
  }

  // Option names ignore case, and outside quotes blanks only separate.
  FUZZ_CHECK(SameOutcome(result, ParseCommandLine(texts, SwappedCase(line))));
  if (quotes == 0) {
    const CommandLineResult spread = ParseCommandLine(texts, Replaced(line, ' ', "  "));
    FUZZ_CHECK(SameOutcome(result, spread) && spread.parsed.component == p.component &&
               spread.rejection == result.rejection);
    // Quoted whole, the line is the component's text exactly: no option, no blank lost.
    const CommandLineResult quoted = ParseCommandLine(texts, "\"" + line + "\"");
    FUZZ_CHECK(!quoted.rejection && SameFlags(quoted.parsed.flags, RunFlags{}) &&
               quoted.parsed.component == (line.empty() ? "Grid" : line));
  }

  if (result.rejection) return 0;

  FUZZ_CHECK(f.RunAsService == f.ServiceSwitch);
  FUZZ_CHECK(!f.ServiceSwitch || f.Quiet);
  FUZZ_CHECK(!f.CommitStep || (f.RegServ && f.Quiet));
  FUZZ_CHECK(!f.RemoveStep || (f.UnReg && f.Quiet));
  FUZZ_CHECK(!(f.StatusRequested || f.CheckRequested) || f.Quiet);
  for (const auto& s : p.settings) FUZZ_CHECK(s.kind != Kind::kTimeout || s.value >= 0);

  // One more /Quiet changes nothing else (unless an open quote, or the client's command line that
  // runs to the end, takes it in as text).
  const bool restOfLine = std::any_of(p.iniSettings.begin(), p.iniSettings.end(),
                                      [](const IniSetting& s) { return s.key == "CommandLine"; });
  if (quotes % 2 == 0 && !restOfLine) {
    const CommandLineResult quiet = ParseCommandLine(texts, line + " /Quiet");
    RunFlags expected = f;
    expected.Quiet = true;
    FUZZ_CHECK(!quiet.rejection && SameFlags(quiet.parsed.flags, expected) &&
               SameSettings(quiet.parsed.settings, p.settings) &&
               quiet.parsed.component == p.component);
  }

  if (!CheckOptionCombination(p)) {
    FUZZ_CHECK(!(f.UnReg && (f.RegApp || f.RegServ)));
    FUZZ_CHECK(!(f.StartRequested && f.StopRequested));
    if (f.StartRequested || f.StopRequested) FUZZ_CHECK(p.givenOptions.empty());
    if (f.StatusRequested || f.CheckRequested) {
      FUZZ_CHECK(p.givenOptions.empty() && !f.StartRequested && !f.StopRequested);
      FUZZ_CHECK(!(f.StatusRequested && f.CheckRequested));
    }
  }

  Configuration ini;
  CheckSettingsWin(p.settings, ini);
  ini.Timeout = 120;
  ini.Show = ini.Debug = ini.AutoStart = 1;
  CheckSettingsWin(p.settings, ini);
  return 0;
}
