#include "support_win32/e2e_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace keldran::test {
namespace {

// Owns a kernel handle that is invalid as INVALID_HANDLE_VALUE (files, find handles).
class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (valid()) CloseHandle(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY* put() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA entry;
  {
    FindHandle find(FindFirstFileA((dir + "\\*").c_str(), &entry));
    if (find.valid()) {
      do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path);
        } else {
          SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileA(path.c_str());
        }
      } while (FindNextFileA(find.get(), &entry));
    }
  }
  SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(dir.c_str());
}

void CreateParents(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
}

std::string WindowText(HWND hwnd) {
  char text[4096];
  int n = GetWindowTextA(hwnd, text, sizeof text);
  return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

// The message text of a standard message box: its Static control with id 0xFFFF, or else the
// first Static child with text (the icon is a Static without text).
std::string BoxText(HWND box) {
  if (HWND item = GetDlgItem(box, 0xFFFF)) {
    std::string text = WindowText(item);
    if (!text.empty()) return text;
  }
  std::string found;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM param) -> BOOL {
        auto* text = reinterpret_cast<std::string*>(param);
        char cls[32];
        if (GetClassNameA(child, cls, sizeof cls) && lstrcmpiA(cls, "Static") == 0) {
          *text = WindowText(child);
          if (!text->empty()) return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Visible dialog-class (#32770) top-level windows of one process: its message boxes.
std::vector<HWND> FindBoxes(DWORD processId) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{processId, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        char cls[32];
        if (pid == s->pid && IsWindowVisible(hwnd) && GetClassNameA(hwnd, cls, sizeof cls) &&
            lstrcmpA(cls, "#32770") == 0) {
          s->found.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Our environment with the additions: a name given there replaces ours.
std::vector<char> EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& add) {
  std::vector<char> block;
  if (char* strings = GetEnvironmentStringsA()) {
    for (const char* entry = strings; *entry; entry += lstrlenA(entry) + 1) {
      const std::string text = entry;
      const size_t eq = text.find('=', 1);  // names like "=C:" start with '='
      bool replaced = false;
      for (const auto& [name, value] : add) {
        if (eq == name.size() &&
            CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.data(), static_cast<int>(eq),
                           name.data(), static_cast<int>(eq)) == CSTR_EQUAL) {
          replaced = true;
        }
      }
      if (!replaced) block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    FreeEnvironmentStringsA(strings);
  }
  for (const auto& [name, value] : add) {
    const std::string entry = name + "=" + value;
    block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
  }
  block.push_back('\0');
  return block;
}

}  // namespace

// ---- Paths ------------------------------------------------------------------------------------

std::string TestExeDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ".";
  std::string dir(path, n);
  size_t slash = dir.find_last_of("\\/");
  return slash == std::string::npos ? "." : dir.substr(0, slash);
}

std::string ProgramPath(const std::string& exeName) { return TestExeDir() + "\\" + exeName; }

std::string AgentExePath() { return ProgramPath("KeldranGridAgent.exe"); }

// ---- Files ------------------------------------------------------------------------------------

bool WriteWholeFile(const std::string& path, const std::string& content) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  DWORD written = 0;
  return WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                   nullptr) &&
         written == content.size();
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  // Other processes may hold the file open for writing (log files, the test client's output).
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  std::string content;
  char buffer[8192];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    content.append(buffer, got);
  }
  return content;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  char temp[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    // No hyphens: the host reads "-" anywhere on its command line as the start of an option,
    // and tests pass scratch paths there ("component@<path of an INI file>").
    std::snprintf(name, sizeof name, "keldran_test_%lu_%lu_%u",
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetTickCount()), counter++);
    std::string candidate = std::string(temp, n) + name;
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
}

ScratchDir::~ScratchDir() {
  if (!path_.empty()) RemoveTree(path_);
}

std::string ScratchDir::File(const std::string& name) const { return path_ + "\\" + name; }

bool ScratchDir::Write(const std::string& name, const std::string& content) const {
  if (path_.empty()) return false;
  const std::string path = File(name);
  CreateParents(path);
  return WriteWholeFile(path, content);
}

std::string ScratchDir::Read(const std::string& name) const {
  return ReadWholeFile(File(name)).value_or("");
}

// ---- Processes --------------------------------------------------------------------------------

ChildProcess::~ChildProcess() {
  if (process_) {
    if (IsRunning()) Kill();
    CloseHandle(process_);
  }
}

DWORD ChildProcess::Start(const std::string& commandLine, const RunOptions& options) {
  if (process_) return ERROR_ALREADY_EXISTS;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  std::vector<char> environment;
  if (!options.environment.empty()) environment = EnvironmentBlock(options.environment);
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  FileHandle output(options.outputFile.empty()
                        ? INVALID_HANDLE_VALUE
                        : CreateFileA(options.outputFile.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!options.outputFile.empty()) {
    if (!output.valid()) return GetLastError();
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
  }
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, output.valid(), 0,
                      environment.empty() ? nullptr : environment.data(),
                      options.workingDir.empty() ? nullptr : options.workingDir.c_str(), &startup,
                      &info)) {
    return GetLastError();
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = info.dwProcessId;
  handleBoxes_ = options.handleBoxes;
  return 0;
}

bool ChildProcess::IsRunning() const {
  return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool ChildProcess::WaitForExit(DWORD ms) {
  if (!process_) return true;
  if (!handleBoxes_) return WaitForSingleObject(process_, ms) == WAIT_OBJECT_0;
  constexpr DWORD kBoxPollMs = 50;
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    CollectBoxes();
    const ULONGLONG now = GetTickCount64();
    const DWORD wait =
        now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kBoxPollMs));
    if (WaitForSingleObject(process_, wait) == WAIT_OBJECT_0) return true;
    if (GetTickCount64() >= deadline) return false;
  }
}

void ChildProcess::Kill(UINT exitCode) {
  if (!process_) return;
  TerminateProcess(process_, exitCode);
  WaitForSingleObject(process_, 10000);
}

DWORD ChildProcess::ExitCode() const {
  DWORD code = 0;
  if (!process_ || !GetExitCodeProcess(process_, &code)) return 0;
  return code;
}

const std::vector<MessageBoxSeen>& ChildProcess::CollectBoxes() {
  for (HWND box : FindBoxes(id_)) {
    // A box stays listed for a moment after its OK was posted: take each one once.
    bool known = false;
    for (HWND seen : dismissed_) known = known || seen == box;
    if (known) continue;
    dismissed_.push_back(box);
    boxes_.push_back({WindowText(box), BoxText(box)});
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  return boxes_;
}

RunResult Run(const std::string& commandLine, const RunOptions& options) {
  RunResult result;
  ChildProcess child;
  result.startError = child.Start(commandLine, options);
  if (result.startError != 0) return result;
  result.started = true;
  if (!child.WaitForExit(options.timeoutMs)) {
    result.timedOut = true;
    child.Kill();
  }
  result.exitCode = child.ExitCode();
  result.boxes = child.boxes();
  return result;
}

// ---- Registry ---------------------------------------------------------------------------------

LONG CreateRegKey(HKEY root, const std::string& subkey, const std::vector<RegValue>& values) {
  RegKey key;
  LONG rc = RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  for (const RegValue& value : values) {
    if (value.type == REG_DWORD) {
      rc = RegSetValueExA(key.get(), value.name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value.number), sizeof value.number);
    } else {
      rc = RegSetValueExA(key.get(), value.name.c_str(), 0, value.type,
                          reinterpret_cast<const BYTE*>(value.text.c_str()),
                          static_cast<DWORD>(value.text.size() + 1));
    }
    if (rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

LONG DeleteRegTree(HKEY root, const std::string& subkey) {
  {
    RegKey key;
    LONG rc = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ | KEY_WRITE, key.put());
    if (rc != ERROR_SUCCESS) return rc;
    // Children first: RegDeleteKeyA removes only keys without subkeys.
    char name[256];
    for (;;) {
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      rc = DeleteRegTree(key.get(), name);
      if (rc != ERROR_SUCCESS) return rc;
    }
  }
  return RegDeleteKeyA(root, subkey.c_str());
}

bool RegKeyExists(HKEY root, const std::string& subkey) {
  RegKey key;
  return RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::optional<std::string> ReadRegString(HKEY root, const std::string& subkey,
                                         const std::string& name) {
  RegKey key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  std::string text(size + 1, '\0');
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  text.resize(size);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::optional<DWORD> ReadRegDword(HKEY root, const std::string& subkey, const std::string& name) {
  RegKey key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

// ---- Time and logs ----------------------------------------------------------------------------

bool WaitUntil(const std::function<bool()>& predicate, DWORD timeoutMs, DWORD pollMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    if (predicate()) return true;
    Sleep(pollMs);
  }
  return predicate();
}

std::string TodaysLogFileName() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char name[32];
  std::snprintf(name, sizeof name, "%04i-%02i-%02i.log", now.wYear, now.wMonth, now.wDay);
  return name;
}

std::string ReadTodaysLog(const std::string& dir) {
  return ReadWholeFile(dir + "\\" + TodaysLogFileName()).value_or("");
}

}  // namespace keldran::test
