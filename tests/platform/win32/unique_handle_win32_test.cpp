#include "platform/win32/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace keldran::win32 {
namespace {

// Records each close, and disturbs the last error as a failing close would.
struct RecordingTraits {
  using Type = int;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type value) noexcept {
    closed.push_back(value);
    ::SetLastError(ERROR_INVALID_HANDLE);
  }
  static inline std::vector<int> closed;
};
using Recorded = UniqueHandle<RecordingTraits>;

TEST(UniqueHandleTest, ClosesEachValueOnceWhateverHandsItOver) {
  RecordingTraits::closed.clear();
  {
    Recorded none;
    EXPECT_FALSE(none);
    Recorded a(1);
    Recorded b(std::move(a));
    EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): moved-from state is the point
    EXPECT_TRUE(RecordingTraits::closed.empty());
    Recorded c(2);
    c = std::move(b);  // closes what c held, takes b's
    EXPECT_EQ(RecordingTraits::closed, std::vector<int>{2});
    c = std::move(c);  // self-move keeps it
    EXPECT_EQ(c.get(), 1);
    c.reset(3);
    EXPECT_EQ(c.release(), 3);  // released: never closed here
    *c.put() = 4;
    *c.put() = 5;  // put closes the old value first
  }
  EXPECT_EQ(RecordingTraits::closed, (std::vector<int>{2, 1, 4, 5}));
}

// Closing keeps the caller's last error, also when a real close fails; file owners take
// INVALID_HANDLE_VALUE for none.
TEST(UniqueHandleTest, ClosingKeepsTheLastErrorAndInvalidHandleValueIsNone) {
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  { Recorded a(1); }
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  UniqueKernelHandle bogus(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1234)));
  HANDLE none =
      ::CreateFileA("C:\\no\\such\\file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(none, INVALID_HANDLE_VALUE);
  bogus.reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  UniqueFile file(none);
  EXPECT_FALSE(file);
}

}  // namespace
}  // namespace keldran::win32
