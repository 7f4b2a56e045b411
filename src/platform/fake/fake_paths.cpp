#include "platform/fake/fake_paths.h"

namespace keldran::fake::paths {
namespace {

bool HasDrive(const std::string& p) { return p.size() >= 2 && p[1] == ':'; }

}  // namespace

std::optional<std::string> Canonicalize(const std::string& path) {
  if (path.empty()) return std::string("\\");
  // Follows the shell's own walk: ".\" is skipped, "\.." backs up one name (never above the
  // root, and a relative path that climbs out becomes rooted), everything else is copied as it
  // stands, including a final "\." and names ending in dots.
  std::string dst;
  std::size_t i = 0;
  const std::size_t n = path.size();
  if (path[0] == '\\') {
    dst += path[i++];
  } else if (n >= 2 && path[1] == ':') {
    dst += path.substr(0, 2);
    i = 2;
    if (i < n && path[i] == '\\') dst += path[i++];
  }
  auto at = [&dst](std::size_t k) { return k < dst.size() ? dst[k] : '\0'; };
  while (i < n) {
    if (path[i] != '.') {
      dst += path[i++];
      continue;
    }
    const char next = i + 1 < n ? path[i + 1] : '\0';
    if (next == '\\' && (i == 0 || path[i - 1] == '\\' || path[i - 1] == ':')) {
      i += 2;
    } else if (next == '.' && !dst.empty() && dst.back() == '\\') {
      std::size_t d = dst.size();
      if (d > 1 && at(d - 1) == '\\' && (at(d - 2) != '\\' || d > 2)) {
        if (at(d - 2) == ':' && (d > 3 || (d >= 3 && at(d - 3) == ':'))) {
          d -= 2;
          while (d > 0 && at(d) != '\\') --d;
          d = at(d) == '\\' ? d + 1 : 0;
        } else if (at(d - 2) != ':' && dst.rfind("\\\\", 0) != 0) {
          d -= 2;
        }
      }
      while (d > 0 && at(d) != '\\') --d;
      dst.resize(d);
      if (d == 0) {
        dst = "\\";
        ++i;
      }
      i += 2;
    } else {
      dst += path[i++];
    }
  }
  if (dst.size() == 2 && dst[1] == ':') dst += '\\';
  if (dst.size() >= kMaxPath) return std::nullopt;
  return dst;
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
