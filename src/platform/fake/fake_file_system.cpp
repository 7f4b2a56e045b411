#include "platform/fake/fake_file_system.h"

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
  // One backslash between names and no "." steps, as Windows resolves them in every file call.
  std::string canonical;
  for (std::size_t start = 0, end; start <= path.size(); start = end + 1) {
    end = std::min(path.find_first_of("\\/", start), path.size());
    const std::string part = path.substr(start, end - start);
    if (part != "." && !(part.empty() && !canonical.empty()))
      canonical += (canonical.empty() ? "" : "\\") + part;
  }
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
  return std::any_of(node.openers.begin(), node.openers.end(), [&](const OpenFile* other) {
    return (Wants(access, file_access::kGenericWrite) && !(other->share & file_share::kWrite)) ||
           (Wants(access, file_access::kGenericRead) && !(other->share & file_share::kRead)) ||
           (Wants(other->access, file_access::kGenericWrite) && !(share & file_share::kWrite)) ||
           (Wants(other->access, file_access::kGenericRead) && !(share & file_share::kRead));
  });
}

std::shared_ptr<FakeFileSystem::OpenFile> FakeFileSystem::Opened(FileHandle file) const {
  auto it = open_.find(file.value);
  if (it != open_.end()) return it->second;
  texts_.SetLastError(win32_error::kInvalidHandle);
  return nullptr;
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
  auto open = std::make_shared<OpenFile>(OpenFile{node, access, share, 0});
  node->openers.push_back(open.get());
  *file = FileHandle{NewHandle()};
  open_[file->value] = open;
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
  auto f = Opened(file);
  if (!f) return win32_error::kInvalidHandle;
  std::int64_t base = method == file_move::kBegin ? 0
                      : method == file_move::kCurrent
                          ? static_cast<std::int64_t>(f->position)
                          : static_cast<std::int64_t>(f->node->content.size());
  if (base + distance < 0) return Fail(win32_error::kInvalidParameter);  // negative seek
  f->position = static_cast<std::uint64_t>(base + distance);
  return 0;
}

Win32Error FakeFileSystem::WriteFile(FileHandle file, const void* data, std::uint32_t size,
                                     std::uint32_t* written) {
  std::lock_guard lock(mutex_);
  *written = 0;
  if (auto e = Injected("WriteFile")) return *e;
  auto f = Opened(file);
  if (!f) return win32_error::kInvalidHandle;
  if (!Wants(f->access, file_access::kGenericWrite)) return Fail(win32_error::kAccessDenied);
  const std::uint32_t n = size;
  auto& content = f->node->content;
  if (content.size() < f->position + n) content.resize(f->position + n);
  std::memcpy(content.data() + f->position, data, n);
  f->position += n;
  *written = n;
  return 0;
}

Win32Error FakeFileSystem::ReadFile(FileHandle file, void* data, std::uint32_t size,
                                    std::uint32_t* read) {
  std::lock_guard lock(mutex_);
  *read = 0;
  auto f = Opened(file);
  if (!f) return win32_error::kInvalidHandle;
  if (!Wants(f->access, file_access::kGenericRead)) return Fail(win32_error::kAccessDenied);
  const auto& content = f->node->content;
  if (f->position >= content.size()) return 0;
  *read = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, content.size() - f->position));
  std::memcpy(data, content.data() + f->position, *read);
  f->position += *read;
  return 0;
}

Win32Error FakeFileSystem::FlushFileBuffers(FileHandle file) {
  std::lock_guard lock(mutex_);
  return Opened(file) ? 0 : win32_error::kInvalidHandle;
}

Win32Error FakeFileSystem::GetFileSize(FileHandle file, std::uint64_t* size) {
  std::lock_guard lock(mutex_);
  auto f = Opened(file);
  if (!f) return win32_error::kInvalidHandle;
  *size = f->node->content.size();
  return 0;
}

void FakeFileSystem::CloseFile(FileHandle file) {
  std::lock_guard lock(mutex_);
  auto it = open_.find(file.value);
  if (it == open_.end()) return;
  std::erase(it->second->node->openers, it->second.get());
  open_.erase(it);
}

// A copy is a read of the source and a write of the target, which CreateFile makes or replaces.
Win32Error FakeFileSystem::CopyFile(const std::string& source, const std::string& target,
                                    bool failIfExists) {
  std::lock_guard lock(mutex_);
  auto src = Lookup(source);
  if (!src || src->directory)
    return Fail(src ? win32_error::kAccessDenied : MissingError(Key(source)));
  FileHandle file;
  if (Win32Error e = CreateFile(
          target, file_access::kGenericWrite, file_share::kNone,
          failIfExists ? file_creation::kCreateNew : file_creation::kCreateAlways, 0, &file))
    return e;
  open_[file.value]->node->content = src->content;
  open_[file.value]->node->attributes = src->attributes;
  CloseFile(file);
  return 0;
}

Win32Error FakeFileSystem::MoveFileReplacing(const std::string& source, const std::string& target) {
  std::lock_guard lock(mutex_);
  auto node = Lookup(source);
  if (!node) return Fail(MissingError(Key(source)));
  auto replaced = Lookup(target);
  // A file held open (without delete sharing, which the fake never grants) cannot be replaced.
  if (replaced && (replaced->directory || !replaced->openers.empty()))
    return Fail(win32_error::kAccessDenied);
  auto parent = nodes_.find(ParentKey(Key(target)));
  if (parent == nodes_.end() || !parent->second->directory) return Fail(win32_error::kPathNotFound);
  nodes_.erase(Key(source));
  node->path = target;
  nodes_[Key(target)] = node;
  return 0;
}

Win32Error FakeFileSystem::DeleteFile(const WideString& widePath) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("DeleteFile")) return *e;
  const std::string path = texts_.WideToAnsi(widePath);
  auto node = Lookup(path);
  if (!node) return Fail(MissingError(Key(path)));
  if (node->directory) return Fail(win32_error::kAccessDenied);
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
  nodes_[key] = std::make_shared<Node>(Node{path, true, "", file_attribute::kDirectory, {}});
  return 0;
}

std::uint32_t FakeFileSystem::GetFileAttributes(const std::string& path, Win32Error* error) {
  std::lock_guard lock(mutex_);
  Win32Error e = Injected("GetFileAttributes").value_or(0);
  auto node = e ? nullptr : Lookup(path);
  if (!node && !e) e = Fail(MissingError(Key(path)));
  if (error) *error = e;
  return node ? node->attributes : file_attribute::kInvalid;
}

Win32Error FakeFileSystem::SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("SetFileAttributes")) return *e;
  auto node = Lookup(path);
  if (!node) return Fail(MissingError(Key(path)));
  std::uint32_t value = attributes & ~file_attribute::kDirectory;
  if (value == file_attribute::kNormal) value = 0;
  if (node->directory) value |= file_attribute::kDirectory;
  node->attributes = value ? value : file_attribute::kNormal;
  return 0;
}

void FakeFileSystem::AddDirectory(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (std::string k = Key(path); !k.empty() && !nodes_.count(k); k = ParentKey(k)) {
    nodes_[k] = std::make_shared<Node>(Node{k, true, "", file_attribute::kDirectory, {}});
    if (k.size() <= 3) break;
  }
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& content,
                             std::uint32_t attributes) {
  std::lock_guard lock(mutex_);
  const std::string key = Key(path);
  AddDirectory(ParentKey(key));
  nodes_[key] = std::make_shared<Node>(Node{path, false, content, attributes, {}});
}

std::optional<std::string> FakeFileSystem::FileContent(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto node = Lookup(path);
  if (!node || node->directory) return std::nullopt;
  return node->content;
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
  std::vector<std::string> names;
  for (const std::string& path : List(directory)) {
    if (!IsDirectory(path)) names.push_back(path.substr(path.rfind('\\') + 1));
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
  std::erase_if(nodes_, [&](const auto& entry) {
    return entry.first == key || entry.first.starts_with(key + "\\");
  });
}

std::size_t FakeFileSystem::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return open_.size();
}

}  // namespace keldran::fake
