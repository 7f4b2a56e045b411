#pragma once
// Files for helper programs, tests and benchmarks: where the built programs lie, whole-file
// reads and writes, and scratch directories.

#include <optional>
#include <string>

namespace keldran::tools {

// Directory of the running executable, without a trailing backslash ("." when unknown).
std::string ExeDir();
// A program that the build puts beside the running executable.
std::string ProgramPath(const std::string& exeName);

[[nodiscard]] bool WriteWholeFile(const std::string& path, const std::string& content);
// The file's bytes, or nothing when it cannot be opened. Others may hold it open for writing.
std::optional<std::string> ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);

// A fresh directory under the temporary directory, removed with everything in it on
// destruction.
class ScratchDir {
 public:
  ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();

  // Empty when the directory could not be created.
  const std::string& path() const { return path_; }
  // The path of an entry of the directory (name may contain backslashes).
  std::string File(const std::string& name) const;
  // Writes a file, creating the directories its name needs.
  [[nodiscard]] bool Write(const std::string& name, const std::string& content) const;
  // The file's content; empty when it does not exist.
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace keldran::tools
