#include "platform/fake/fake_paths.h"

#include <vector>

namespace keldran::fake::paths {
namespace {

bool HasDrive(const std::string& p) { return p.size() >= 2 && p[1] == ':'; }

}  // namespace

std::optional<std::string> Canonicalize(const std::string& path) {
  if (path.empty()) return std::string("\\");
  // The root part: "X:\", "X:", "\\" (UNC) or "\"; it is never climbed above.
  std::string root;
  std::size_t i = 0;
  if (HasDrive(path)) {
    root = path.substr(0, 2);
    i = 2;
    if (i < path.size() && path[i] == '\\') {
      root += '\\';
      ++i;
    }
  } else if (path.rfind("\\\\", 0) == 0) {
    root = "\\\\";
    i = 2;
  } else if (path[0] == '\\') {
    root = "\\";
    i = 1;
  }
  std::vector<std::string> parts;
  std::string part;
  bool trailingSlash = false;
  auto flush = [&](bool bySlash) {
    if (part == ".") {
      // dropped
    } else if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() || bySlash) {
      parts.push_back(part);
    }
    part.clear();
  };
  for (; i < path.size(); ++i) {
    if (path[i] == '\\') {
      flush(true);
      trailingSlash = true;
    } else {
      part += path[i];
      trailingSlash = false;
    }
  }
  const bool endedWithDots = part == "." || part == "..";
  flush(false);
  std::string out = root;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k) out += '\\';
    out += parts[k];
  }
  if ((trailingSlash || endedWithDots) && !parts.empty() && trailingSlash) out += '\\';
  if (out.empty()) out = "\\";
  if (out.size() >= kMaxPath) return std::nullopt;
  return out;
}

std::optional<std::string> Combine(const std::string& directory, const std::string& file) {
  std::string joined;
  if (file.empty()) {
    joined = directory;
  } else if (HasDrive(file)) {
    joined = file;
  } else if (!file.empty() && file[0] == '\\') {
    if (file.rfind("\\\\", 0) != 0 && HasDrive(directory)) {
      joined = directory.substr(0, 2) + file;
    } else {
      joined = file;
    }
  } else if (directory.empty()) {
    joined = file;
  } else {
    joined = directory;
    if (joined.back() != '\\') joined += '\\';
    joined += file;
  }
  return Canonicalize(joined);
}

std::string QuoteSpaces(const std::string& path) {
  if (path.find(' ') == std::string::npos) return path;
  if (path.size() + 2 >= kMaxPath) return path;
  return "\"" + path + "\"";
}

std::string UnquoteSpaces(const std::string& path) {
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
    return path.substr(1, path.size() - 2);
  return path;
}

std::string RemoveArgs(const std::string& path) {
  bool quoted = false;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == ' ' && !quoted) return path.substr(0, i);
    if (path[i] == '"') quoted = !quoted;
  }
  if (!path.empty() && path.back() == ' ') return path.substr(0, path.size() - 1);
  return path;
}

std::string RemoveFileSpec(const std::string& path) {
  std::size_t start = 0;
  if (HasDrive(path)) start = 2;
  const std::size_t slash = path.rfind('\\');
  if (slash == std::string::npos || slash < start) {
    return path.substr(0, start);
  }
  // Keep the root backslash ("C:\", "\"); a UNC prefix stays whole.
  if (slash == start) return path.substr(0, start + 1);
  if (slash == 1 && path.rfind("\\\\", 0) == 0) return path.substr(0, 2);
  return path.substr(0, slash);
}

std::size_t FindFileName(const std::string& path) {
  std::size_t last = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if ((c == '\\' || c == '/' || c == ':') && i + 1 < path.size() && path[i + 1] != '\\' &&
        path[i + 1] != '/') {
      last = i + 1;
    }
  }
  return last;
}

std::size_t FindExtension(const std::string& path) {
  std::size_t dot = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' || path[i] == ' ') {
      dot = std::string::npos;
    } else if (path[i] == '.') {
      dot = i;
    }
  }
  return dot == std::string::npos ? path.size() : dot;
}

}  // namespace keldran::fake::paths
