#include "platform/types.h"

#include <gtest/gtest.h>

namespace keldran {
namespace {

TEST(ResultCodesTest, Win32ErrorsBecomeFailuresInTheWin32Facility) {
  EXPECT_EQ(HResultFromWin32(5), static_cast<HResult>(0x80070005u));
  // Only the low 16 bits of the code survive.
  EXPECT_EQ(HResultFromWin32(0x12345), static_cast<HResult>(0x80072345u));
  // Zero, and values that already read as failures, pass through unchanged.
  EXPECT_EQ(HResultFromWin32(0), 0);
  EXPECT_EQ(HResultFromWin32(0x80004005u), kEFail);
}

}  // namespace
}  // namespace keldran
