#include <gtest/gtest.h>

#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

// As the commit step calls the companion DLL's registration entry points.
TEST(ProcessesTest, EntryPointsOfALoadedLibrary) {
  Win32Platform backend;
  IProcesses& p = backend.platform().processes;
  LibraryHandle missing;
  EXPECT_EQ(p.LoadLibrary("keldran-no-such.dll", &missing), win32_error::kModNotFound);
  ScopedLibrary library(p);
  ASSERT_EQ(p.LoadLibrary("oleaut32.dll", library.put()), 0u);
  HResult result = kEFail;
  EXPECT_EQ(p.CallEntryPoint(library.get(), "DllCanUnloadNow", &result), 0u);
  EXPECT_TRUE(Succeeded(result));
  EXPECT_EQ(p.CallEntryPoint(library.get(), "KeldranNoSuchEntry", &result),
            win32_error::kProcNotFound);
}

}  // namespace
}  // namespace keldran::win32
