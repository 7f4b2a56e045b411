#pragma once
// The command line: the component named by the leading words, the options, and the check of
// their combination. Words are split at blanks, double quotes group, and an option is a word that
// begins with "/" or "-". Parsing is pure; only the code page's character stepping comes from
// the platform, so that a double-byte character is stepped over whole.

#include <optional>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "platform/system_texts.h"

namespace keldran {

// The [Service] keys that an installer may set with /Set:Key=value. CommandLine's value is the
// rest of the line as it stands, quotes and blanks included, so it comes last: a client's
// command line holds quotes, which no word of ours can carry.
constexpr const char* kInstallerKeys[] = {"CommandLine", "WorkingDir", "LogDir",     "Timeout",
                                          "AutoStart",   "Recovery",   "MetricsFile"};

struct ParsedCommandLine {
  std::string component;  // the leading words, unquoted; "Grid" when there are none
  RunFlags flags;
  std::vector<CommandLineSetting> settings;
  // /Set: values in command-line order, blanks around them dropped.
  std::vector<IniSetting> iniSettings;
  // The commit step's own options as given, for the combination message.
  std::string givenInstallerOptions;
  // The options as given, for the combination messages ("/Service /Debug ").
  std::string givenOptions;
  std::string givenRegOptions;
};

struct CommandLineResult {
  ParsedCommandLine parsed;
  // Set when the command line is refused: the text of event 117.
  std::optional<std::string> rejection;
};

CommandLineResult ParseCommandLine(ISystemTexts& texts, const std::string& commandLine);

// The text of event 117 when the options cannot go together, else none.
std::optional<std::string> CheckOptionCombination(const ParsedCommandLine& parsed);

// Applies the command line's settings over the values read from the INI file.
void ApplyCommandLineSettings(const std::vector<CommandLineSetting>& settings,
                              Configuration* config);

}  // namespace keldran
