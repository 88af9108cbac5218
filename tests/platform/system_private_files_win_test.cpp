#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/private_files.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_private_files.h"
#include "tests/support/scratch_files.h"

namespace zyp::win32 {
namespace {

using namespace std::chrono_literals;

constexpr char16_t kPrefix[] = u"ZYPBrowserHost-";
constexpr std::uint64_t kAgeMs = 60000;
const std::wstring kRandom = L"0123456789abcdef0123456789abcdef";
// Names of lookalikes differ in more than letter case from the test's own:
// the folder would take them for the same name.
const std::wstring kOther = L"fedcba9876543210fedcba9876543210";

std::wstring W(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class SystemPrivateFilesTest : public ::testing::Test {
 protected:
  // A file of these bytes in the temporary folder, last written age ago.
  std::wstring File(const std::wstring& name, std::chrono::seconds age) {
    const std::wstring path = temp_.Path() + name;
    const UniqueHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(file && ::WriteFile(file.Get(), "cookielist=sid=1", 16, &written, nullptr))
        << "cannot make " << std::string(name.begin(), name.end());
    return Aged(path, age);
  }
  std::wstring Aged(const std::wstring& path, std::chrono::seconds age) {
    EXPECT_TRUE(testing::SetWriteAge(path, age));
    return path;
  }
  std::wstring Own(wchar_t first) {
    std::wstring random = kRandom;
    random[0] = first;
    return W(kPrefix) + random + L".txt";
  }

  // The process's temporary folder, this test's alone.
  testing::OwnTempFolder temp_;
  SystemPrivateFiles files_;
};

TEST_F(SystemPrivateFilesTest, MakesEachFileNewUnderANameOfItsPrefix) {
  const std::u16string first = files_.CreateTempFile(kPrefix, "one");
  const std::u16string second = files_.CreateTempFile(kPrefix, "two");
  EXPECT_NE(first, second);
  for (const std::u16string& path : {first, second}) {
    const std::wstring wide = W(path);
    ASSERT_EQ(wide.rfind(temp_.Path(), 0), 0u);
    EXPECT_TRUE(platform::IsPrivateFileName(path.substr(temp_.Path().size()), kPrefix))
        << std::string(wide.begin(), wide.end());
    files_.RemoveIfPresent(path);
    EXPECT_FALSE(Exists(wide));
  }
}

TEST_F(SystemPrivateFilesTest, RemovesOnlyItsOwnRegularFilesOlderThanTheAge) {
  const std::wstring stale = File(Own(L'0'), 10min);
  const std::wstring justOver = File(Own(L'1'), 70s);
  const std::wstring young = File(Own(L'2'), 50s);
  const std::wstring ahead = File(Own(L'3'), -10min);  // the clock was set back since
  // Another program's names, however close: another prefix or letter case,
  // another length or extension, upper-case digits.
  std::vector<std::wstring> others;
  for (const std::wstring& name :
       {L"ZYPBrowserHosts" + kOther + L".txt", L"zypbrowserhost-" + kOther + L".txt", L"zyp-" + kOther + L".txt",
        W(kPrefix) + kOther.substr(1) + L".txt", W(kPrefix) + kOther + L"0.txt", W(kPrefix) + kOther + L".tmp",
        W(kPrefix) + kOther + L".txt.bak", W(kPrefix) + L"ABCDEF0123456789abcdef0123456789.txt"})
    others.push_back(File(name, 10min));
  // A folder named as a file of its own would be, and a second name of a file
  // elsewhere: neither is a file it made.
  const std::wstring folder = temp_.Path() + Own(L'4');
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  Aged(folder, 10min);
  const std::wstring elsewhere = File(L"elsewhere.txt", 10min);
  const std::wstring secondName = temp_.Path() + Own(L'5');
  ASSERT_TRUE(::CreateHardLinkW(secondName.c_str(), elsewhere.c_str(), nullptr));
  Aged(secondName, 10min);
  // A file another program holds open.
  const std::wstring held = File(Own(L'6'), 10min);
  UniqueHandle holder(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);

  EXPECT_EQ(files_.RemoveStaleTempFiles(kPrefix, kAgeMs, 100), 2u);
  EXPECT_FALSE(Exists(stale));
  EXPECT_FALSE(Exists(justOver));
  for (const std::wstring& kept : {young, ahead, folder, elsewhere, secondName, held})
    EXPECT_TRUE(Exists(kept)) << std::string(kept.begin(), kept.end());
  for (const std::wstring& other : others) EXPECT_TRUE(Exists(other)) << std::string(other.begin(), other.end());

  holder.Reset();
  EXPECT_EQ(files_.RemoveStaleTempFiles(kPrefix, kAgeMs, 100), 1u) << "let go, it goes";
  EXPECT_FALSE(Exists(held));
  ::DeleteFileW(secondName.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

TEST_F(SystemPrivateFilesTest, LooksAtNoMoreNamesThanItIsAllowed) {
  for (const wchar_t first : {L'a', L'b', L'c'}) File(Own(first), 10min);
  EXPECT_EQ(files_.RemoveStaleTempFiles(kPrefix, kAgeMs, 2), 2u);
  EXPECT_EQ(testing::CountFiles(temp_.Path(), L"ZYPBrowserHost-*"), 1u);
  EXPECT_EQ(files_.RemoveStaleTempFiles(kPrefix, kAgeMs, 2), 1u);
  EXPECT_EQ(files_.RemoveStaleTempFiles(kPrefix, kAgeMs, 2), 0u) << "an empty folder is no failure";
}

}  // namespace
}  // namespace zyp::win32
