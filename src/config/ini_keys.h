#pragma once
// Every key of the INI file's [Service] section, in the order the loader reads them. The
// loader, /Check (which flags keys it does not know and numbers that are none) and the
// administrator's guide's test all read this one table.

#include <cstdint>
#include <string>
#include <vector>

#include "config/configuration.h"

namespace keldran {

enum class IniValue {
  kText,    // read with its macros by its own code
  kFolder,  // text with macros, its trailing backslash dropped; later values may name it
  kNumber,  // a whole number
};

struct IniKey {
  const char* name;
  IniValue kind;
  std::string Configuration::*text = nullptr;  // kFolder, and the plain texts read in order
  std::int32_t Configuration::*number = nullptr;
  std::int32_t defaultNumber = 0;
};

inline constexpr IniKey kServiceKeys[] = {
    // Macros stand for their fields' values at the moment of the read: these come first.
    {"DataDir", IniValue::kFolder, &Configuration::DataDir},
    {"LogDir", IniValue::kFolder, &Configuration::LogDir},
    {"LogPre", IniValue::kText, &Configuration::LogPre},  // defaults to the component
    {"GSDir", IniValue::kFolder, &Configuration::GSDir},
    {"CtrlSrc", IniValue::kText, &Configuration::CtrlSrc},
    {"CtrlDoc", IniValue::kText, &Configuration::CtrlDoc},
    {"DeleteRegKeys", IniValue::kText, &Configuration::DeleteRegKeys},
    {"CommandLine", IniValue::kText},
    {"WorkingDir", IniValue::kText},
    {"Logon", IniValue::kText},
    {"AutoStart", IniValue::kNumber, nullptr, &Configuration::AutoStart, 0},
    {"Show", IniValue::kNumber, nullptr, &Configuration::Show, 0},
    {"Debug", IniValue::kNumber, nullptr, &Configuration::Debug, 0},
    {"Trace", IniValue::kNumber, nullptr, &Configuration::Trace, 0},
    {"Timeout", IniValue::kNumber, nullptr, &Configuration::Timeout, 60},
    {"LogKeepDays", IniValue::kNumber, nullptr, &Configuration::LogKeepDays, 0},
    {"RestartBackoff", IniValue::kNumber, nullptr, &Configuration::RestartBackoff, 0},
    {"CaptureOutput", IniValue::kNumber, nullptr, &Configuration::CaptureOutput, 1},
    {"OutputMaxMB", IniValue::kNumber, nullptr, &Configuration::OutputMaxMB, 100},
    {"DumpKeep", IniValue::kNumber, nullptr, &Configuration::DumpKeep, 5},
    {"DelayedStart", IniValue::kNumber, nullptr, &Configuration::DelayedStart, 0},
    {"MetricsInterval", IniValue::kNumber, nullptr, &Configuration::MetricsInterval,
     kDefaultMetricsInterval},
    {"MetricsFile", IniValue::kText},
    {"Recovery", IniValue::kText},
    {"Priority", IniValue::kText},
    {"Affinity", IniValue::kText},
    {"StopExitCodes", IniValue::kText},
};

// The keys of a [Service] section's entries (as the profile function gives them: each ends with
// a NUL) that the host does not know, most often misspellings. Comment lines (";") and blank ones
// name no key.
std::vector<std::string> UnknownServiceKeys(const std::string& section);

}  // namespace keldran
