// The configuration load with any INI values, macros and component name. The INI file and the
// shell's path functions come from a small file system that serves the input's "Key=Value"
// lines, cut to the caller's buffer as the profile function cuts them.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "check.h"
#include "config/service_config.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/profile_files.h"

namespace keldran {
namespace {

using fake::Fold;
using fake::ProfileFiles;

struct Outcome {
  bool ok = false;
  Configuration config;
  std::vector<std::uint32_t> loadEvents;  // the load's own: 909, 910, 912
  std::string eventSource;
};

Outcome Load(const std::map<std::string, std::string>& keys, const std::string& component) {
  ProfileFiles files(keys);
  fake::FakePlatform fake("", &files);
  Log log(fake.platform());
  Outcome out;
  Configuration& c = out.config;
  c.ExePath = "C:\\Program Files\\Keldran\\KeldranGridAgent.exe";
  c.AppName = "KeldranGridAgent";
  c.ExeDir = "C:\\Program Files\\Keldran\\";
  ComponentLog events(log, c.LogPre);
  out.ok = LoadServiceConfig(files, events, category::kStartup, component, {}, &c);
  for (const auto& e : fake.eventLog.Events()) {
    if (e.category == category::kStartup) out.loadEvents.push_back(e.id);
  }
  out.eventSource = log.eventSourceName();
  return out;
}

bool Same(const Configuration& a, const Configuration& b) {
  return a.ServiceComp == b.ServiceComp && a.IniFile == b.IniFile && a.IniDir == b.IniDir &&
         a.CommandLine == b.CommandLine && a.WorkingDir == b.WorkingDir && a.DataDir == b.DataDir &&
         a.LogDir == b.LogDir && a.LogPre == b.LogPre && a.GSDir == b.GSDir &&
         a.CtrlSrc == b.CtrlSrc && a.CtrlDoc == b.CtrlDoc && a.DeleteRegKeys == b.DeleteRegKeys &&
         a.IconFile == b.IconFile && a.AutoStart == b.AutoStart && a.Show == b.Show &&
         a.Debug == b.Debug && a.Trace == b.Trace && a.Timeout == b.Timeout &&
         a.LogKeepDays == b.LogKeepDays && a.RestartBackoff == b.RestartBackoff &&
         a.LogonUser == b.LogonUser && a.LogonPassword == b.LogonPassword;
}

std::string DropTrailingBackslash(std::string text) {
  if (!text.empty() && text.back() == '\\') text.pop_back();
  return text;
}

}  // namespace
}  // namespace keldran

// Input: the component (the first line), then the [Service] section's "Key=Value" lines.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace keldran;
  const std::string input = fuzz::Text(data, size);
  std::vector<std::string> lines = fuzz::Lines(input);
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = line.substr(0, line.find('\0'));  // the profile reads C strings
  }
  const std::string component = lines[0];
  std::map<std::string, std::string> keys;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t eq = lines[i].find('=');
    if (eq != std::string::npos)
      keys.emplace(Fold(lines[i].substr(0, eq)), lines[i].substr(eq + 1));
  }

  const Outcome first = Load(keys, component);
  const Outcome again = Load(keys, component);
  FUZZ_CHECK(first.ok == again.ok && Same(first.config, again.config) &&
             first.loadEvents == again.loadEvents && first.eventSource == again.eventSource);

  const Configuration& c = first.config;
  if (!first.ok) {
    FUZZ_CHECK(first.loadEvents.size() == 1);
    FUZZ_CHECK(first.loadEvents[0] == 909 || first.loadEvents[0] == 910 ||
               first.loadEvents[0] == 912);
  } else {
    FUZZ_CHECK(first.loadEvents.empty());
    for (const std::string* field :
         {&c.DataDir, &c.LogDir, &c.LogPre, &c.GSDir, &c.CtrlSrc, &c.CtrlDoc, &c.DeleteRegKeys,
          &c.CommandLine, &c.WorkingDir, &c.LogonUser, &c.LogonPassword}) {
      FUZZ_CHECK(field->size() < kPathBuffer);
    }
    FUZZ_CHECK(!c.CommandLine.empty() && !c.WorkingDir.empty());
  }

  // A value without macros is taken whole or refused, never cut; WorkingDir never has macros.
  struct Plain {
    const char* key;
    const std::string* field;
    std::string (*after)(std::string);
  };
  auto same = [](std::string text) { return text; };
  auto dropAt = [](std::string text) { return text.starts_with('@') ? text.substr(1) : text; };
  const Plain plain[] = {{"datadir", &c.DataDir, DropTrailingBackslash},
                         {"logdir", &c.LogDir, DropTrailingBackslash},
                         {"logpre", &c.LogPre, same},
                         {"gsdir", &c.GSDir, DropTrailingBackslash},
                         {"ctrlsrc", &c.CtrlSrc, same},
                         {"ctrldoc", &c.CtrlDoc, same},
                         {"deleteregkeys", &c.DeleteRegKeys, same},
                         {"commandline", &c.CommandLine, dropAt},
                         {"workingdir", &c.WorkingDir, same}};
  for (const Plain& p : plain) {
    const auto it = keys.find(p.key);
    if (it == keys.end()) continue;
    const bool literal = it->second.find('%') == std::string::npos || it->first == "workingdir";
    if (!literal) continue;
    if (it->second.size() >= kPathBuffer) FUZZ_CHECK(!first.ok);
    if (first.ok) FUZZ_CHECK(*p.field == p.after(it->second));
  }
  return 0;
}
