#include "platform/fake/fake_file_system.h"

#include <stdexcept>

#include <algorithm>
#include <cstring>

namespace keldran::fake {

struct FakeFileSystem::Node {
  std::string path;  // as first created
  bool directory = false;
  std::string content;
  std::uint32_t attributes = file_attribute::kArchive;
  std::vector<OpenFile*> openers;
};

struct FakeFileSystem::OpenFile {
  std::shared_ptr<Node> node;
  std::uint32_t access = 0;
  std::uint32_t share = 0;
  std::uint64_t position = 0;
};

namespace {

std::string Narrow(const WideString& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x100 ? static_cast<char>(c) : '?';
  return out;
}

bool Wants(std::uint32_t access, std::uint32_t bit) {
  // GENERIC_ALL and GENERIC_READ/WRITE as the rights that sharing looks at.
  return (access & bit) != 0 || (access & 0x10000000u) != 0;
}

}  // namespace

FakeFileSystem::FakeFileSystem(FaultPlan& faults, FakeSystemTexts& texts)
    : FakeArea(faults, texts) {
  AddDirectory("C:\\windows\\system32");
  AddDirectory("C:\\temp");
}

FakeFileSystem::~FakeFileSystem() = default;

std::string FakeFileSystem::Key(const std::string& path) const {
  std::string p = path;
  std::replace(p.begin(), p.end(), '/', '\\');
  if (!(p.size() >= 2 && p[1] == ':') && !(p.rfind("\\\\", 0) == 0)) {
    p = (!p.empty() && p[0] == '\\' ? "C:" : "C:\\") + p;  // relative to C:\ in the fake
  }
  // "." and ".." steps resolved, as Windows resolves them in every file call.
  std::vector<std::string> parts;
  std::size_t pos = 0;
  while (pos <= p.size()) {
    std::size_t next = p.find('\\', pos);
    if (next == std::string::npos) next = p.size();
    const std::string part = p.substr(pos, next - pos);
    if (part == "..") {
      if (parts.size() > 1) parts.pop_back();
    } else if (part != "." && !(part.empty() && !parts.empty())) {
      parts.push_back(part);
    }
    pos = next + 1;
  }
  std::string canonical;
  for (const std::string& part : parts) canonical += (canonical.empty() ? "" : "\\") + part;
  if (canonical.size() == 2) canonical += '\\';
  return FoldCase(canonical);
}

std::shared_ptr<FakeFileSystem::Node> FakeFileSystem::Lookup(const std::string& path) const {
  auto it = nodes_.find(Key(path));
  return it == nodes_.end() ? nullptr : it->second;
}

std::string FakeFileSystem::ParentKey(const std::string& key) const {
  auto slash = key.rfind('\\');
  if (slash == std::string::npos) return "";
  if (slash <= 2) return key.substr(0, 3);
  return key.substr(0, slash);
}

Win32Error FakeFileSystem::MissingError(const std::string& key) const {
  auto parent = nodes_.find(ParentKey(key));
  bool parentIsDir = parent != nodes_.end() && parent->second->directory;
  return parentIsDir || ParentKey(key).size() <= 3 ? win32_error::kFileNotFound
                                                   : win32_error::kPathNotFound;
}

bool FakeFileSystem::SharingConflict(const Node& node, std::uint32_t access,
                                     std::uint32_t share) const {
  for (const OpenFile* other : node.openers) {
    if (Wants(access, file_access::kGenericWrite) && !(other->share & file_share::kWrite))
      return true;
    if (Wants(access, file_access::kGenericRead) && !(other->share & file_share::kRead))
      return true;
    if (Wants(other->access, file_access::kGenericWrite) && !(share & file_share::kWrite))
      return true;
    if (Wants(other->access, file_access::kGenericRead) && !(share & file_share::kRead))
      return true;
  }
  return false;
}

Win32Error FakeFileSystem::CreateFile(const std::string& path, std::uint32_t access,
                                      std::uint32_t share, std::uint32_t creation,
                                      std::uint32_t flags, FileHandle* file) {
  std::lock_guard lock(mutex_);
  *file = FileHandle{};
  opens_.push_back(OpenRecord{path, access, share, creation, flags});
  if (auto e = Injected("CreateFile")) return *e;
  const std::string key = Key(path);
  auto it = nodes_.find(key);
  std::shared_ptr<Node> node = it == nodes_.end() ? nullptr : it->second;
  if (node && node->directory) return Fail(win32_error::kAccessDenied);
  if (!node) {
    if (creation == file_creation::kOpenExisting || creation == file_creation::kTruncateExisting)
      return Fail(MissingError(key));
    auto parent = nodes_.find(ParentKey(key));
    if (parent == nodes_.end() || !parent->second->directory)
      return Fail(win32_error::kPathNotFound);
  } else {
    if (creation == file_creation::kCreateNew) return Fail(win32_error::kFileExists);
    if (Wants(access, file_access::kGenericWrite) && (node->attributes & file_attribute::kReadOnly))
      return Fail(win32_error::kAccessDenied);
    if (SharingConflict(*node, access, share)) return Fail(win32_error::kSharingViolation);
  }
  const bool existed = node != nullptr;
  if (!node) {
    node = std::make_shared<Node>();
    node->path = path;
    node->attributes = (flags & 0xFFFF) ? (flags & 0xFFFF) : file_attribute::kArchive;
    if (node->attributes == file_attribute::kNormal) node->attributes = file_attribute::kArchive;
    nodes_[key] = node;
  } else if (creation == file_creation::kCreateAlways ||
             creation == file_creation::kTruncateExisting) {
    node->content.clear();
  }
  auto open = std::make_shared<OpenFile>();
  open->node = node;
  open->access = access;
  open->share = share;
  node->openers.push_back(open.get());
  FileHandle handle{nextHandle_};
  nextHandle_ += 4;
  open_[handle.value] = open;
  *file = handle;
  // CreateFile reports ERROR_ALREADY_EXISTS through the last error when it opened an existing
  // file with OPEN_ALWAYS or CREATE_ALWAYS.
  texts_.SetLastError(existed && (creation == file_creation::kOpenAlways ||
                                  creation == file_creation::kCreateAlways)
                          ? win32_error::kAlreadyExists
                          : 0);
  return 0;
}

Win32Error FakeFileSystem::SetFilePointer(FileHandle file, std::int64_t distance,
                                          std::uint32_t method) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("SetFilePointer")) return *e;
  auto it = open_.find(file.value);
  if (it == open_.end()) return Fail(win32_error::kInvalidHandle);
  auto& f = *it->second;
  std::int64_t base = method == file_move::kBegin ? 0
                      : method == file_move::kCurrent
                          ? static_cast<std::int64_t>(f.position)
                          : static_cast<std::int64_t>(f.node->content.size());
  if (base + distance < 0) return Fail(win32_error::kInvalidParameter);  // negative seek
  f.position = static_cast<std::uint64_t>(base + distance);
  return 0;
}

Win32Error FakeFileSystem::WriteFile(FileHandle file, const void* data, std::uint32_t size,
                                     std::uint32_t* written) {
  std::lock_guard lock(mutex_);
  *written = 0;
  if (auto e = Injected("WriteFile")) return *e;
  auto it = open_.find(file.value);
  if (it == open_.end()) return Fail(win32_error::kInvalidHandle);
  auto& f = *it->second;
  if (!Wants(f.access, file_access::kGenericWrite)) return Fail(win32_error::kAccessDenied);
  std::uint32_t n = size;
  if (writeLimit_) {
    n = std::min(n, *writeLimit_);
    writeLimit_.reset();
  }
  auto& content = f.node->content;
  if (content.size() < f.position + n) content.resize(f.position + n);
  std::memcpy(content.data() + f.position, data, n);
  f.position += n;
  *written = n;
  return 0;
}

Win32Error FakeFileSystem::ReadFile(FileHandle file, void* data, std::uint32_t size,
                                    std::uint32_t* read) {
  std::lock_guard lock(mutex_);
  *read = 0;
  if (auto e = Injected("ReadFile")) return *e;
  auto it = open_.find(file.value);
  if (it == open_.end()) return Fail(win32_error::kInvalidHandle);
  auto& f = *it->second;
  if (!Wants(f.access, file_access::kGenericRead)) return Fail(win32_error::kAccessDenied);
  const auto& content = f.node->content;
  if (f.position >= content.size()) return 0;
  std::uint32_t n =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(size, content.size() - f.position));
  std::memcpy(data, content.data() + f.position, n);
  f.position += n;
  *read = n;
  return 0;
}

Win32Error FakeFileSystem::FlushFileBuffers(FileHandle file) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("FlushFileBuffers")) return *e;
  if (!open_.count(file.value)) return Fail(win32_error::kInvalidHandle);
  ++flushes_;
  return 0;
}

Win32Error FakeFileSystem::GetFileSize(FileHandle file, std::uint64_t* size) {
  std::lock_guard lock(mutex_);
  auto it = open_.find(file.value);
  if (it == open_.end()) return Fail(win32_error::kInvalidHandle);
  *size = it->second->node->content.size();
  return 0;
}

void FakeFileSystem::CloseFile(FileHandle file) {
  std::lock_guard lock(mutex_);
  auto it = open_.find(file.value);
  if (it == open_.end()) return;
  auto& openers = it->second->node->openers;
  openers.erase(std::remove(openers.begin(), openers.end(), it->second.get()), openers.end());
  open_.erase(it);
}

Win32Error FakeFileSystem::CopyFile(const std::string& source, const std::string& target,
                                    bool failIfExists) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("CopyFile")) return *e;
  auto src = Lookup(source);
  if (!src || src->directory)
    return Fail(src ? win32_error::kAccessDenied : MissingError(Key(source)));
  if (SharingConflict(*src, file_access::kGenericRead, file_share::kRead))
    return Fail(win32_error::kSharingViolation);
  auto dst = Lookup(target);
  if (dst && failIfExists) return Fail(win32_error::kFileExists);
  if (dst && (dst->directory || (dst->attributes & file_attribute::kReadOnly)))
    return Fail(win32_error::kAccessDenied);
  if (dst && SharingConflict(*dst, file_access::kGenericWrite, 0))
    return Fail(win32_error::kSharingViolation);
  if (!dst) {
    auto parent = nodes_.find(ParentKey(Key(target)));
    if (parent == nodes_.end() || !parent->second->directory)
      return Fail(win32_error::kPathNotFound);
    dst = std::make_shared<Node>();
    dst->path = target;
    nodes_[Key(target)] = dst;
  }
  dst->content = src->content;
  dst->attributes = src->attributes;
  return 0;
}

Win32Error FakeFileSystem::DeleteFile(const WideString& widePath) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("DeleteFile")) return *e;
  const std::string path = Narrow(widePath);
  auto node = Lookup(path);
  if (!node) return Fail(MissingError(Key(path)));
  if (node->directory || (node->attributes & file_attribute::kReadOnly))
    return Fail(win32_error::kAccessDenied);
  for (const OpenFile* other : node->openers) {
    if (!(other->share & file_share::kDelete)) return Fail(win32_error::kSharingViolation);
  }
  nodes_.erase(Key(path));
  return 0;
}

Win32Error FakeFileSystem::CreateDirectory(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("CreateDirectory")) return *e;
  const std::string key = Key(path);
  if (nodes_.count(key)) return Fail(win32_error::kAlreadyExists);
  auto parent = nodes_.find(ParentKey(key));
  if (parent == nodes_.end() || !parent->second->directory) return Fail(win32_error::kPathNotFound);
  auto node = std::make_shared<Node>();
  node->path = path;
  node->directory = true;
  node->attributes = file_attribute::kDirectory;
  nodes_[key] = node;
  return 0;
}

std::uint32_t FakeFileSystem::GetFileAttributes(const std::string& path, Win32Error* error) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("GetFileAttributes")) {
    if (error) *error = *e;
    return file_attribute::kInvalid;
  }
  auto node = Lookup(path);
  if (!node) {
    Win32Error e = Fail(MissingError(Key(path)));
    if (error) *error = e;
    return file_attribute::kInvalid;
  }
  if (error) *error = 0;
  return node->attributes;
}

Win32Error FakeFileSystem::SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("SetFileAttributes")) return *e;
  auto node = Lookup(path);
  if (!node) return Fail(MissingError(Key(path)));
  std::uint32_t value = attributes & ~file_attribute::kDirectory;
  if (value == file_attribute::kNormal) value = 0;
  if (node->directory) value |= file_attribute::kDirectory;
  if (value == 0) value = file_attribute::kNormal;
  node->attributes = value;
  return 0;
}

bool FakeFileSystem::PathFileExists(const std::string& path) {
  std::lock_guard lock(mutex_);
  return Lookup(path) != nullptr;
}

std::string FakeFileSystem::WindowsDirectory() { return "C:\\windows"; }

std::string FakeFileSystem::TempDirectory() { return "C:\\temp\\"; }

std::string FakeFileSystem::LongPathName(const std::string& path) { return path; }

std::optional<std::string> FakeFileSystem::ReadText(const std::string& path) const {
  auto node = Lookup(path);
  if (!node || node->directory) return std::nullopt;
  return node->content;
}

// INI files and the shell's path functions are not modelled: code that reads the configuration
// is tested under Wine against the real ones.
[[noreturn]] static void NotModelled(const char* what) {
  throw std::logic_error(std::string(what) + " is not modelled by the fake: test it under Wine");
}

std::uint32_t FakeFileSystem::GetProfileString(const std::string&,
                                               const std::optional<std::string>&,
                                               const std::optional<std::string>&,
                                               const std::string&, std::uint32_t, std::string*) {
  NotModelled("GetPrivateProfileString");
}
std::uint32_t FakeFileSystem::GetProfileInt(const std::string&, const std::string&,
                                            const std::string&, std::int32_t) {
  NotModelled("GetPrivateProfileInt");
}
std::uint32_t FakeFileSystem::GetProfileSection(const std::string&, const std::string&,
                                                std::uint32_t, std::string*) {
  NotModelled("GetPrivateProfileSection");
}
std::optional<std::string> FakeFileSystem::PathCanonicalize(const std::string&) {
  NotModelled("PathCanonicalize");
}
std::optional<std::string> FakeFileSystem::PathCombine(const std::string&, const std::string&) {
  NotModelled("PathCombine");
}
std::string FakeFileSystem::PathQuoteSpaces(const std::string&) { NotModelled("PathQuoteSpaces"); }
std::string FakeFileSystem::PathUnquoteSpaces(const std::string&) {
  NotModelled("PathUnquoteSpaces");
}
std::string FakeFileSystem::PathRemoveArgs(const std::string&) { NotModelled("PathRemoveArgs"); }
std::string FakeFileSystem::PathRemoveFileSpec(const std::string&) {
  NotModelled("PathRemoveFileSpec");
}
std::size_t FakeFileSystem::PathFindFileName(const std::string&) {
  NotModelled("PathFindFileName");
}
std::size_t FakeFileSystem::PathFindExtension(const std::string&) {
  NotModelled("PathFindExtension");
}

void FakeFileSystem::AddDirectory(const std::string& path) {
  std::lock_guard lock(mutex_);
  std::string key = Key(path);
  std::vector<std::string> chain;
  for (std::string k = key; !k.empty() && !nodes_.count(k); k = ParentKey(k)) {
    chain.push_back(k);
    if (k.size() <= 3) break;
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    auto node = std::make_shared<Node>();
    node->path = *it;
    node->directory = true;
    node->attributes = file_attribute::kDirectory;
    nodes_[*it] = node;
  }
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& content,
                             std::uint32_t attributes) {
  std::lock_guard lock(mutex_);
  const std::string key = Key(path);
  AddDirectory(ParentKey(key));
  auto node = std::make_shared<Node>();
  node->path = path;
  node->content = content;
  node->attributes = attributes;
  nodes_[key] = node;
}

std::optional<std::string> FakeFileSystem::FileContent(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return ReadText(path);
}

bool FakeFileSystem::Exists(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return Lookup(path) != nullptr;
}

bool FakeFileSystem::IsDirectory(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto node = Lookup(path);
  return node && node->directory;
}

std::vector<std::string> FakeFileSystem::ListFiles(const std::string& directory) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  const std::string key = Key(directory);
  for (const auto& [k, node] : nodes_) {
    if (k != key && ParentKey(k) == key && !node->directory)
      names.push_back(node->path.substr(node->path.rfind('\\') + 1));
  }
  return names;
}

std::vector<std::string> FakeFileSystem::List(const std::string& directory) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  const std::string key = Key(directory);
  for (const auto& [k, node] : nodes_) {
    if (k != key && ParentKey(k) == key) out.push_back(node->path);
  }
  return out;
}

void FakeFileSystem::RemoveTree(const std::string& path) {
  std::lock_guard lock(mutex_);
  const std::string key = Key(path);
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    if (it->first == key || it->first.rfind(key + "\\", 0) == 0) {
      it = nodes_.erase(it);
    } else {
      ++it;
    }
  }
}

void FakeFileSystem::LimitNextWrite(std::uint32_t bytes) {
  std::lock_guard lock(mutex_);
  writeLimit_ = bytes;
}

std::size_t FakeFileSystem::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return open_.size();
}

std::vector<FakeFileSystem::OpenRecord> FakeFileSystem::Opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

int FakeFileSystem::FlushCount() const {
  std::lock_guard lock(mutex_);
  return flushes_;
}

}  // namespace keldran::fake
