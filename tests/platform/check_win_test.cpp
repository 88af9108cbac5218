#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/check.h"

namespace zyp::win32 {
namespace {

TEST(Check, FailedCallBecomesThePlatformErrorNamingTheCall) {
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  try {
    ThrowIfWin32BoolFalse(FALSE, "DeleteFileW");
    FAIL() << "no error raised";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Code(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(e.Call(), "DeleteFileW");
    EXPECT_EQ(e.Message(), SystemMessage(ERROR_FILE_NOT_FOUND));
  }
}

TEST(Check, ReturnedStatusIsTheErrorAndSuccessPasses) {
  EXPECT_NO_THROW(ThrowIfWin32Error(ERROR_SUCCESS, "RegOpenKeyExW"));
  EXPECT_NO_THROW(ThrowIfWin32BoolFalse(TRUE, "CloseHandle"));
  try {
    ThrowIfWin32Error(ERROR_ACCESS_DENIED, "RegOpenKeyExW");
    FAIL() << "no error raised";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Code(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_STREQ(e.Call(), "RegOpenKeyExW");
  }
}

}  // namespace
}  // namespace zyp::win32
