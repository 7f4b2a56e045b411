#include "support_win32/real_files.h"

#include <memory>

#include "platform/win32/backend.h"

namespace keldran::testing {

IFileSystem& RealFileSystem() {
  static const std::unique_ptr<IFileSystem> files = win32::MakeFileSystem();
  return *files;
}

}  // namespace keldran::testing
