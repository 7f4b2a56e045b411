// IShell: special folders, shortcut files (IShellLinkA) and folder operations.
#include <cstdlib>
#include <utility>

#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

int FolderId(const std::string& name) {
  static const std::pair<const char*, int> kFolders[] = {
      {"AllUsersPrograms", CSIDL_COMMON_PROGRAMS},
      {"AllUsersStartup", CSIDL_COMMON_STARTUP},
      {"AllUsersDesktop", CSIDL_COMMON_DESKTOPDIRECTORY},
      {"Programs", CSIDL_PROGRAMS},
      {"Startup", CSIDL_STARTUP},
      {"Desktop", CSIDL_DESKTOPDIRECTORY}};
  for (const auto& [folderName, id] : kFolders) {
    if (name == folderName) return id;
  }
  return -1;
}

// Shortcut icon locations are written "file,index".
std::pair<std::string, int> SplitIconLocation(const std::string& location) {
  std::size_t comma = location.rfind(',');
  if (comma == std::string::npos) return {location, 0};
  return {location.substr(0, comma), std::atoi(location.c_str() + comma + 1)};
}

DWORD Attributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

HResult ShellLink(ComPtr<IShellLinkA>* link, ComPtr<IPersistFile>* file) {
  HResult hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  link->put_void());
  if (Failed(hr)) return hr;
  return link->As(IID_IPersistFile, file);
}

// Calls fn(name, attributes) for each entry of the folder except "." and "..".
template <class Fn>
HResult ForEachEntry(const std::string& folder, Fn fn) {
  WIN32_FIND_DATAA entry{};
  UniqueFind find(::FindFirstFileA((folder + "\\*").c_str(), &entry));
  if (!find) return LastErrorResult();
  do {
    std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if (HResult hr = fn(name, entry.dwFileAttributes); Failed(hr)) return hr;
  } while (::FindNextFileA(find.get(), &entry));
  return ::GetLastError() == ERROR_NO_MORE_FILES ? kSOk : LastErrorResult();
}

// The last error of a call that failed. Wine's RemoveDirectoryA can fail on a link without
// setting one, which must not read as success.
HResult FailureResult() {
  const HResult hr = LastErrorResult();
  return Failed(hr) ? hr : kEFail;
}

HResult RemoveFile(const std::string& path) {
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only files go too
  return ::DeleteFileA(path.c_str()) ? kSOk : FailureResult();
}

// A junction or symbolic link is removed itself and never entered: what it points to belongs
// elsewhere. (Wine shows a Unix symbolic link as a reparse point too, but cannot remove one
// that points to a directory: the deletion then fails, and the target stays untouched.)
HResult RemoveLink(const std::string& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return ::RemoveDirectoryA(path.c_str()) ? kSOk : FailureResult();
  }
  return ::DeleteFileA(path.c_str()) ? kSOk : FailureResult();
}

HResult DeleteTree(const std::string& folder) {
  const DWORD attributes = Attributes(folder);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return RemoveLink(folder, attributes);
  }
  HResult hr = ForEachEntry(folder, [&](const std::string& name, DWORD entry) -> HResult {
    const std::string path = folder + "\\" + name;
    if (entry & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(path, entry);
    if (entry & FILE_ATTRIBUTE_DIRECTORY) return DeleteTree(path);
    return RemoveFile(path);
  });
  if (Failed(hr)) return hr;
  return ::RemoveDirectoryA(folder.c_str()) ? kSOk : FailureResult();
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

class Shell final : public IShell {
 public:
  HResult SpecialFolder(const std::string& name, std::string* path) override {
    int id = FolderId(name);
    if (id < 0) return kEInvalidArg;
    char buffer[MAX_PATH] = {};
    HResult hr = ::SHGetFolderPathA(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (Succeeded(hr)) *path = buffer;
    return hr;
  }

  HResult SaveShortcut(const ShortcutDefinition& shortcut) override {
    ComPtr<IShellLinkA> link;
    ComPtr<IPersistFile> file;
    if (HResult hr = ShellLink(&link, &file); Failed(hr)) return hr;
    HResult hr = link->SetArguments(shortcut.arguments.c_str());
    if (Succeeded(hr)) hr = link->SetDescription(shortcut.description.c_str());
    if (Succeeded(hr)) hr = link->SetPath(shortcut.target.c_str());
    if (Succeeded(hr) && !shortcut.iconLocation.empty()) {
      auto [iconFile, index] = SplitIconLocation(shortcut.iconLocation);
      hr = link->SetIconLocation(iconFile.c_str(), index);
    }
    if (Succeeded(hr)) hr = link->SetShowCmd(shortcut.windowStyle);
    if (Succeeded(hr)) hr = link->SetWorkingDirectory(shortcut.workingDirectory.c_str());
    if (Succeeded(hr)) hr = file->Save(ToWide(shortcut.path).c_str(), TRUE);
    return hr;
  }

  HResult ReadShortcut(const std::string& path, ShortcutDefinition* shortcut) override {
    ComPtr<IShellLinkA> link;
    ComPtr<IPersistFile> file;
    if (HResult hr = ShellLink(&link, &file); Failed(hr)) return hr;
    if (HResult hr = file->Load(ToWide(path).c_str(), STGM_READ); Failed(hr)) return hr;
    char text[INFOTIPSIZE] = {};
    ShortcutDefinition read;
    read.path = path;
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) read.target = text;
    text[0] = '\0';
    if (SUCCEEDED(link->GetArguments(text, INFOTIPSIZE))) read.arguments = text;
    text[0] = '\0';
    if (SUCCEEDED(link->GetDescription(text, INFOTIPSIZE))) read.description = text;
    text[0] = '\0';
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) read.workingDirectory = text;
    text[0] = '\0';
    int index = 0;
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &index)) && text[0]) {
      read.iconLocation = std::string(text) + "," + std::to_string(index);
    }
    int show = 0;
    if (SUCCEEDED(link->GetShowCmd(&show))) read.windowStyle = show;
    *shortcut = std::move(read);
    return kSOk;
  }

  bool FileExists(const std::string& path) override {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
  }

  HResult DeleteFile(const std::string& path) override {
    // Forced, as the shell's file object deletes: read-only files go too.
    return RemoveFile(path);
  }

  bool FolderExists(const std::string& path) override {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }

  HResult CreateFolder(const std::string& path) override {
    return ::CreateDirectoryA(path.c_str(), nullptr) ? kSOk : LastErrorResult();
  }

  HResult DeleteFolder(const std::string& path) override {
    return DeleteTree(WithoutTrailingSlash(path));
  }

  HResult FolderCounts(const std::string& path, std::uint32_t* files,
                       std::uint32_t* subFolders) override {
    std::uint32_t fileCount = 0;
    std::uint32_t folderCount = 0;
    HResult hr = ForEachEntry(WithoutTrailingSlash(path), [&](const std::string&, DWORD entry) {
      ++((entry & FILE_ATTRIBUTE_DIRECTORY) ? folderCount : fileCount);
      return kSOk;
    });
    if (Failed(hr)) return hr;
    *files = fileCount;
    *subFolders = folderCount;
    return kSOk;
  }
};

}  // namespace

std::unique_ptr<IShell> MakeShell() { return std::make_unique<Shell>(); }

}  // namespace keldran::win32
