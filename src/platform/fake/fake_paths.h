#pragma once
// The shell's path functions (shlwapi, ANSI, MAX_PATH buffers) for the fake backend. The
// contract tests hold them to what the real functions do under Wine.

#include <cstddef>
#include <optional>
#include <string>

namespace keldran::fake::paths {

constexpr std::size_t kMaxPath = 260;

std::optional<std::string> Canonicalize(const std::string& path);
std::optional<std::string> Combine(const std::string& directory, const std::string& file);
std::string QuoteSpaces(const std::string& path);
std::string UnquoteSpaces(const std::string& path);
std::string RemoveArgs(const std::string& path);
std::string RemoveFileSpec(const std::string& path);
std::size_t FindFileName(const std::string& path);
std::size_t FindExtension(const std::string& path);

}  // namespace keldran::fake::paths
