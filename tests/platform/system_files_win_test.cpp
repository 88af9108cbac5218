#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/error.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_files.h"
#include "tests/support/scratch_files.h"

namespace zyp::win32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

UniqueHandle HoldWithoutSharing(const std::wstring& path) {
  return UniqueHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(SystemFiles, FileHeldForAMomentIsReadOnceItIsFree) {
  const testing::ScratchFile file(L"held.txt", "ZYP Parameter File\r\n");
  UniqueHandle holder = HoldWithoutSharing(file.Path());
  ASSERT_TRUE(holder);
  SystemFiles files;
  std::atomic<ULONGLONG> readBegan{0};
  auto reading = std::async(std::launch::async, [&] {
    readBegan = ::GetTickCount64();
    return files.ReadAll(U16(file.Path()), kNoLimit);
  });
  while (readBegan.load() == 0) std::this_thread::yield();
  std::this_thread::sleep_for(300ms);  // the other program's moment
  holder.Reset();
  const ULONGLONG heldFor = ::GetTickCount64() - readBegan.load();
  platform::FileContent content;
  try {
    content = reading.get();
  } catch (const PlatformError& error) {
    // Let go within the reader's window, the file must have been read. A
    // machine so busy that this thread slept past the window proves nothing.
    if (heldFor >= SystemFiles::kHeldFileRetryMs)
      GTEST_SKIP() << "the file was let go only " << heldFor << " ms after the read began, after the window";
    FAIL() << "let go " << heldFor << " ms after the read began, yet not read: error " << error.Code();
  }
  ASSERT_EQ(content.status, platform::FileContent::Status::Read);
  const std::vector<std::uint8_t>& bytes = content.bytes;
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "ZYP Parameter File\r\n");
}

TEST(SystemFiles, FileHeldForGoodFailsAfterASecondWithTheSharingViolation) {
  const testing::ScratchFile file(L"held.txt", "ZYP Parameter File\r\n");
  const UniqueHandle holder = HoldWithoutSharing(file.Path());
  ASSERT_TRUE(holder);
  SystemFiles files;
  const auto started = Clock::now();
  try {
    files.ReadAll(U16(file.Path()), kNoLimit);
    ADD_FAILURE() << "a held file was read";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.Code(), static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
  }
  const auto waited = Clock::now() - started;
  EXPECT_GE(waited, std::chrono::milliseconds(SystemFiles::kHeldFileRetryMs));
  EXPECT_LT(waited, std::chrono::milliseconds(SystemFiles::kHeldFileRetryMs) + 1000ms);
}

TEST(SystemFiles, OtherFailuresAreNotTriedAgain) {
  SystemFiles files;
  const auto started = Clock::now();
  try {
    files.ReadAll(u"C:\\zyp-no-such-folder\\p.txt", kNoLimit);
    ADD_FAILURE() << "a missing file was read";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.Code(), static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
  }
  EXPECT_LT(Clock::now() - started, 500ms);
}

}  // namespace
}  // namespace zyp::win32
