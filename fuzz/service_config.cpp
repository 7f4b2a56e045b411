// The configuration load with any INI values, macros and component name. The INI file and the
// shell's path functions come from a small file system of this target's own that serves the
// input's "Key=Value" lines, cut to the caller's buffer as the profile function cuts them.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "check.h"
#include "config/service_config.h"
#include "platform/fake/fake_platform.h"

namespace keldran {
namespace {

constexpr std::size_t kMaxPath = 260;

std::string Fold(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool EndsWithIni(const std::string& path) {
  return path.size() >= 4 && Fold(path.substr(path.size() - 4)) == ".ini";
}

// One INI file, whatever its name, holding the [Service] keys of the input; nothing else exists.
class ProfileFiles final : public IFileSystem {
 public:
  explicit ProfileFiles(const std::map<std::string, std::string>& keys) : keys_(keys) {}

  Win32Error CreateFile(const std::string&, std::uint32_t, std::uint32_t, std::uint32_t,
                        std::uint32_t, FileHandle*) override {
    return win32_error::kPathNotFound;
  }
  Win32Error SetFilePointer(FileHandle, std::int64_t, std::uint32_t) override { return kBad; }
  Win32Error WriteFile(FileHandle, const void*, std::uint32_t, std::uint32_t*) override {
    return kBad;
  }
  Win32Error ReadFile(FileHandle, void*, std::uint32_t, std::uint32_t*) override { return kBad; }
  Win32Error FlushFileBuffers(FileHandle) override { return kBad; }
  Win32Error GetFileSize(FileHandle, std::uint64_t*) override { return kBad; }
  void CloseFile(FileHandle) override {}
  Win32Error CopyFile(const std::string&, const std::string&, bool) override { return kBad; }
  Win32Error MoveFileReplacing(const std::string&, const std::string&) override { return kBad; }
  Win32Error DeleteFile(const WideString&) override { return kBad; }
  Win32Error CreateDirectory(const std::string&) override { return kBad; }
  std::vector<std::string> ListFiles(const std::string&) override { return {}; }
  std::uint32_t GetFileAttributes(const std::string&, Win32Error*) override {
    return file_attribute::kInvalid;
  }
  Win32Error SetFileAttributes(const std::string&, std::uint32_t) override { return kBad; }
  bool PathFileExists(const std::string& path) override {
    return path.size() < kMaxPath && EndsWithIni(path);
  }
  std::string WindowsDirectory() override { return "C:\\windows"; }
  std::string TempDirectory() override { return "C:\\windows\\temp\\"; }
  std::string LongPathName(const std::string& path) override { return path; }

  std::uint32_t GetProfileString(const std::string&, const std::optional<std::string>& section,
                                 const std::optional<std::string>& key,
                                 const std::string& defaultValue, std::uint32_t bufferSize,
                                 std::string* out) override {
    const std::string* value = &defaultValue;
    if (section && key && Fold(*section) == "service") {
      if (auto it = keys_.find(Fold(*key)); it != keys_.end()) value = &it->second;
    }
    *out = value->substr(0, bufferSize > 0 ? bufferSize - 1 : 0);
    return static_cast<std::uint32_t>(out->size());
  }
  std::uint32_t GetProfileInt(const std::string&, const std::string& section,
                              const std::string& key, std::int32_t defaultValue) override {
    auto it = keys_.find(Fold(key));
    if (Fold(section) != "service" || it == keys_.end())
      return static_cast<std::uint32_t>(defaultValue);
    return static_cast<std::uint32_t>(std::strtol(it->second.c_str(), nullptr, 10));
  }
  std::uint32_t GetProfileSection(const std::string&, const std::string&, std::uint32_t,
                                  std::string* out) override {
    out->clear();
    return 0;
  }

  Win32Error WriteProfileString(const std::string&, const std::string&, const std::string&,
                                const std::string&) override {
    return kBad;
  }

  std::optional<std::string> PathCanonicalize(const std::string& path) override {
    if (path.size() >= kMaxPath) return std::nullopt;
    return path;
  }
  std::optional<std::string> PathCombine(const std::string& directory,
                                         const std::string& file) override {
    const bool absolute = (file.size() > 1 && file[1] == ':') || file.starts_with('\\');
    const std::string combined = absolute ? file : directory + file;
    if (combined.size() >= kMaxPath) return std::nullopt;
    return combined;
  }
  std::string PathQuoteSpaces(const std::string& path) override {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
  }
  std::string PathUnquoteSpaces(const std::string& path) override {
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
      return path.substr(1, path.size() - 2);
    return path;
  }
  std::string PathRemoveArgs(const std::string& path) override {
    bool quoted = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
      if (path[i] == '"') quoted = !quoted;
      if (path[i] == ' ' && !quoted) return path.substr(0, i);
    }
    return path;
  }
  std::string PathRemoveFileSpec(const std::string& path) override {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }
  std::size_t PathFindFileName(const std::string& path) override {
    const std::size_t at = path.find_last_of("\\/:");
    return at == std::string::npos ? 0 : at + 1;
  }
  std::size_t PathFindExtension(const std::string& path) override {
    const std::size_t dot = path.rfind('.');
    const std::size_t name = PathFindFileName(path);
    return dot == std::string::npos || dot < name ? path.size() : dot;
  }

 private:
  static constexpr Win32Error kBad = win32_error::kInvalidHandle;
  const std::map<std::string, std::string>& keys_;
};

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
