#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/error.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_files.h"

namespace zyp::win32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};

// A file of its own in the temporary folder, removed afterwards.
class TempFile {
 public:
  explicit TempFile(const std::string& bytes) {
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, folder);
    path_ = std::wstring(folder) + L"zyp-held-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
    UniqueHandle file(
        ::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  ~TempFile() { ::DeleteFileW(path_.c_str()); }
  const std::wstring& Path() const { return path_; }
  std::u16string Path16() const { return std::u16string(path_.begin(), path_.end()); }

 private:
  std::wstring path_;
};

UniqueHandle HoldWithoutSharing(const std::wstring& path) {
  return UniqueHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(SystemFiles, FileHeldForAMomentIsReadOnceItIsFree) {
  TempFile file("ZYP Parameter File\r\n");
  UniqueHandle holder = HoldWithoutSharing(file.Path());
  ASSERT_TRUE(holder);
  SystemFiles files;
  const auto started = Clock::now();
  auto reading = std::async(std::launch::async, [&] { return files.ReadAll(file.Path16(), kNoLimit); });
  std::this_thread::sleep_for(300ms);  // the other program's moment
  holder.Reset();
  const platform::FileContent content = reading.get();
  ASSERT_EQ(content.status, platform::FileContent::Status::Read);
  const std::vector<std::uint8_t>& bytes = content.bytes;
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "ZYP Parameter File\r\n");
  EXPECT_GE(Clock::now() - started, 300ms);
}

TEST(SystemFiles, FileHeldForGoodFailsAfterASecondWithTheSharingViolation) {
  TempFile file("ZYP Parameter File\r\n");
  const UniqueHandle holder = HoldWithoutSharing(file.Path());
  ASSERT_TRUE(holder);
  SystemFiles files;
  const auto started = Clock::now();
  try {
    files.ReadAll(file.Path16(), kNoLimit);
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
