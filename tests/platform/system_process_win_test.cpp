#include <windows.h>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/win32/system_process.h"

namespace zyp::win32 {
namespace {

TEST(SystemProcess, ProgramPathThatTheSystemWouldCutIsAnError) {
  wchar_t path[32768] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, 32768);
  ASSERT_GT(length, 0u);
  const std::u16string full(reinterpret_cast<const char16_t*>(path), length);
  EXPECT_EQ(SystemProcess().ModuleFileName(), full);
  EXPECT_EQ(SystemProcess(length + 1).ModuleFileName(), full) << "a path that just fits";

  for (const std::uint32_t capacity : {std::uint32_t{length}, std::uint32_t{length - 1}, std::uint32_t{5}}) {
    SCOPED_TRACE(capacity);
    try {
      SystemProcess(capacity).ModuleFileName();
      ADD_FAILURE() << "a path cut to " << capacity << " characters was taken";
    } catch (const PlatformError& error) {
      EXPECT_EQ(error.Code(), static_cast<std::uint32_t>(ERROR_INSUFFICIENT_BUFFER));
      EXPECT_FALSE(error.Message().empty());
    }
  }
}

}  // namespace
}  // namespace zyp::win32
