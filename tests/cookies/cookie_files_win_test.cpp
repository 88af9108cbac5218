// The cookie store on the real file system and code page, with the
// temporary directory moved into a folder of each test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "cookies/cookie_store.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_files.h"
#include "platform/win32/system_locale.h"
#include "platform/win32/wide_text.h"

namespace zyp::cookies {
namespace {

using win32::FromWide;
using win32::SystemFiles;
using win32::SystemLocale;
using win32::UniqueHandle;
using win32::Wide;

constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};

// The system's files, with a temporary directory chosen by the test.
class MovedTempFiles final : public platform::Files {
 public:
  explicit MovedTempFiles(std::u16string temp) : temp_(std::move(temp)) {}
  std::u16string TempPath(std::uint32_t) override { return temp_; }
  bool DirectoryExists(const std::u16string& path) override { return system_.DirectoryExists(path); }
  bool FileExists(const std::u16string& path) override { return system_.FileExists(path); }
  void MakeDirectory(const std::u16string& path) override { system_.MakeDirectory(path); }
  std::unique_ptr<platform::WritableFile> CreateForWriting(const std::u16string& path) override {
    return system_.CreateForWriting(path);
  }
  void Remove(const std::u16string& path) override { system_.Remove(path); }
  void RemoveEmptyDirectory(const std::u16string& path) override { system_.RemoveEmptyDirectory(path); }
  platform::FileContent ReadAll(const std::u16string& path, std::uint64_t maxSize) override {
    return system_.ReadAll(path, maxSize);
  }

 private:
  std::u16string temp_;
  SystemFiles system_;
};

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class CookieFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = SystemFiles().TempPath(1023) + u"zyp-cookie-test-" + Utf16(std::to_string(::GetCurrentProcessId())) + u"-" +
            Utf16(test->name()) + u"\\";
    ASSERT_TRUE(::CreateDirectoryW(Wide(root_), nullptr));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(win32::ToWide(root_)), ignored);
  }

  std::unique_ptr<CookieStore> Start(const std::u16string& temp) {
    files_ = std::make_unique<MovedTempFiles>(temp);
    return std::make_unique<CookieStore>(*files_, locale_);
  }
  std::unique_ptr<CookieStore> Start() { return Start(root_); }

  static bool Exists(const std::u16string& path) { return ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES; }
  static std::string Read(const std::u16string& path) {
    const platform::FileContent content = SystemFiles().ReadAll(path, kNoLimit);
    EXPECT_EQ(content.status, platform::FileContent::Status::Read);
    return std::string(content.bytes.begin(), content.bytes.end());
  }
  static void Put(const std::u16string& path, const std::string& bytes) {
    SystemFiles().CreateForWriting(path)->Write(bytes.data(), bytes.size());
  }

  std::u16string root_;
  std::unique_ptr<MovedTempFiles> files_;
  SystemLocale locale_;
};

TEST_F(CookieFilesTest, StoresOneAnsiLineWithCrLfAndNoByteOrderMark) {
  ASSERT_EQ(locale_.AnsiCodePage(), 1252u) << "these bytes are those of code page 1252";
  const auto store = Start();
  EXPECT_EQ(store->CookieFolder(), root_ + u"ZYP\\cookies");
  ASSERT_TRUE(SystemFiles().DirectoryExists(store->CookieFolder()));

  const std::u16string path = store->GetCookieFileName(u"http://shop.example.com/a");
  EXPECT_EQ(path, root_ + u"ZYP\\cookies\\example.com.dat");
  store->WriteCookieFile(u"http://shop.example.com/a", u"lang=en; theme = dark;size=10; LANG=de; flag; note=");
  EXPECT_EQ(Read(path), "lang=de; theme = dark; size=10\r\n");

  // The euro sign has a byte of its own in 1252; a Chinese character takes the default "?".
  store->WriteCookieFile(u"http://example.com/", u"n=caf\u00E9 \u20AC \u4E2D");
  EXPECT_EQ(Read(path), "n=caf\xE9 \x80 ?\r\n");

  store->WriteCookieFile(u"http://example.com/", u" ; a=");
  EXPECT_EQ(Read(path), "\r\n");
}

TEST_F(CookieFilesTest, ASecondWriteReplacesTheFirstAndAnEmptyListDeletes) {
  const auto store = Start();
  const std::u16string path = store->GetCookieFileName(u"http://example.com/");
  store->WriteCookieFile(u"http://example.com/", u"a=1; only=first; c=3");
  store->WriteCookieFile(u"http://www.example.com/", u"a=2");
  EXPECT_EQ(Read(path), "a=2\r\n");
  store->WriteCookieFile(u"http://example.com/", u"");
  EXPECT_FALSE(Exists(path));
  store->WriteCookieFile(u"http://example.com/", u"");  // nothing left to delete: silent
}

TEST_F(CookieFilesTest, ANameWithAnEqualsSignIsNeitherWrittenNorDeleted) {
  const auto store = Start();
  const std::u16string path = store->GetCookieFileName(u"http://example.com?x=1");
  ASSERT_EQ(path, store->CookieFolder() + u"\\example.com_x=1.dat");
  Put(path, "old\r\n");
  store->WriteCookieFile(u"http://example.com?x=1", u"a=1");
  EXPECT_EQ(Read(path), "old\r\n");
  store->WriteCookieFile(u"http://example.com?x=1", u"");
  EXPECT_EQ(Read(path), "old\r\n");
}

TEST_F(CookieFilesTest, WritesAPathOf259CharactersButNotOf260) {
  const auto store = Start();
  // folder + "\" + name + ".com" + ".dat"
  const std::size_t nameFor259 = 259 - store->CookieFolder().size() - 1 - 8;
  const std::u16string at259 = u"http://" + std::u16string(nameFor259, u'a') + u".com/";
  const std::u16string at260 = u"http://" + std::u16string(nameFor259 + 1, u'b') + u".com/";
  ASSERT_EQ(store->GetCookieFileName(at259).size(), 259u);
  ASSERT_EQ(store->GetCookieFileName(at260).size(), 260u);
  store->WriteCookieFile(at259, u"a=1");
  store->WriteCookieFile(at260, u"a=1");
  EXPECT_EQ(Read(store->GetCookieFileName(at259)), "a=1\r\n");
  EXPECT_FALSE(Exists(store->GetCookieFileName(at260)));
}

TEST_F(CookieFilesTest, AFileHeldWithoutWriteSharingIsSkippedSilently) {
  const auto store = Start();
  const std::u16string path = store->GetCookieFileName(u"http://example.com/");
  Put(path, "old\r\n");
  {
    // Another reader that does not let anyone write meanwhile.
    const UniqueHandle reader(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);
    store->WriteCookieFile(u"http://example.com/", u"a=1");
    EXPECT_EQ(Read(path), "old\r\n");
  }
  // The lock was released: the next write goes through.
  store->WriteCookieFile(u"http://example.com/", u"a=2");
  EXPECT_EQ(Read(path), "a=2\r\n");
}

TEST_F(CookieFilesTest, AReaderMayOpenTheFileWhileItIsWritten) {
  const auto store = Start();
  const std::u16string path = store->GetCookieFileName(u"http://example.com/");
  const auto writer = files_->CreateForWriting(path);
  // A reader that lets others write, as the queue manager's must.
  const UniqueHandle reader(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(reader);
  // A second writer is refused.
  try {
    files_->CreateForWriting(path);
    ADD_FAILURE() << "a second writer was let in";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.Code(), static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
  }
}

TEST_F(CookieFilesTest, AnUnwritableCookieFolderIsSilent) {
  // A file stands where the cookie folder belongs.
  ASSERT_TRUE(::CreateDirectoryW(Wide(root_ + u"ZYP"), nullptr));
  Put(root_ + u"ZYP\\cookies", "not a folder");
  const auto store = Start();
  store->WriteCookieFile(u"http://example.com/", u"a=1");
  store->WriteCookieFile(u"http://example.com/", u"");
  EXPECT_EQ(Read(root_ + u"ZYP\\cookies"), "not a folder");
}

TEST_F(CookieFilesTest, StartUpIsSilentWhenTheTemporaryFolderCannotBeCreated) {
  Put(root_ + u"blocker", "");
  const auto store = Start(root_ + u"blocker\\sub\\");
  EXPECT_EQ(store->CookieFolder(), root_ + u"blocker\\sub\\ZYP\\cookies");
  store->WriteCookieFile(u"http://example.com/", u"a=1");
  EXPECT_FALSE(Exists(root_ + u"blocker\\sub"));
}

TEST_F(CookieFilesTest, CreateFolderPathBuildsAChainAndAcceptsWhatExists) {
  SystemFiles files;
  EXPECT_TRUE(CreateFolderPath(files, u"C:\\"));
  EXPECT_TRUE(CreateFolderPath(files, root_));
  EXPECT_TRUE(CreateFolderPath(files, root_ + u"a\\b\\c\\"));
  EXPECT_TRUE(files.DirectoryExists(root_ + u"a\\b\\c"));
  Put(root_ + u"file", "");
  EXPECT_FALSE(CreateFolderPath(files, root_ + u"file\\x"));
}

TEST(SystemFiles, ReportsWhatWindowsReports) {
  SystemFiles files;
  wchar_t expected[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, expected);
  EXPECT_EQ(files.TempPath(1023), FromWide(expected, length));
  // The capacity counts the terminating zero too.
  EXPECT_EQ(files.TempPath(length + 1), FromWide(expected, length));

  const std::u16string temp = files.TempPath(1023);
  EXPECT_TRUE(files.DirectoryExists(temp));
  EXPECT_FALSE(files.FileExists(temp));
  EXPECT_FALSE(files.FileExists(u""));
  EXPECT_FALSE(files.DirectoryExists(u""));
}

// A failed operation raises the system's error code and names the call that
// failed.
TEST(SystemFiles, AFailureNamesItsCall) {
  SystemFiles files;
  const std::u16string temp = files.TempPath(1023);
  const std::u16string missingFolder = temp + u"zyp-no-such-folder\\";
  struct Case {
    const char* name;
    std::function<void()> operation;
    DWORD code;
    std::string call;
  };
  const Case cases[] = {
      {"a temporary path longer than its room", [&] { files.TempPath(static_cast<std::uint32_t>(temp.size())); },
       ERROR_INSUFFICIENT_BUFFER, "GetTempPathW"},
      {"a folder that exists", [&] { files.MakeDirectory(temp); }, ERROR_ALREADY_EXISTS, "CreateDirectoryW"},
      {"a folder without its parent", [&] { files.MakeDirectory(missingFolder + u"child"); }, ERROR_PATH_NOT_FOUND,
       "CreateDirectoryW"},
      {"a file in a missing folder", [&] { files.CreateForWriting(missingFolder + u"f.dat"); }, ERROR_PATH_NOT_FOUND,
       "CreateFileW"},
      {"removing a missing file", [&] { files.Remove(temp + u"zyp-no-such-file.dat"); }, ERROR_FILE_NOT_FOUND,
       "DeleteFileW"},
      {"reading a missing file", [&] { files.ReadAll(temp + u"zyp-no-such-file.dat", kNoLimit); }, ERROR_FILE_NOT_FOUND,
       "CreateFileW"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.operation();
      ADD_FAILURE() << "no error";
    } catch (const PlatformError& error) {
      EXPECT_EQ(error.Code(), static_cast<std::uint32_t>(c.code));
      EXPECT_EQ(error.Call(), c.call);
    }
  }
}

TEST_F(CookieFilesTest, ReadAllRefusesAFileBeingWrittenAndReadsLargeFiles) {
  SystemFiles files;
  const std::u16string path = root_ + u"data.bin";
  std::string large(200000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
  {
    const auto writer = files.CreateForWriting(path);
    writer->Write(large.data(), large.size());
    ASSERT_TRUE(files.FileExists(path));
    try {
      files.ReadAll(path, kNoLimit);
      ADD_FAILURE() << "read a file that is open for writing";
    } catch (const PlatformError& error) {
      EXPECT_EQ(error.Code(), static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
    }
  }
  EXPECT_EQ(Read(path), large);
  files.Remove(path);
  EXPECT_FALSE(files.FileExists(path));
}

TEST_F(CookieFilesTest, ReadAllReadsOnlyRegularDiskFilesWithinTheLimit) {
  using Status = platform::FileContent::Status;
  SystemFiles files;
  const std::u16string path = root_ + u"limit.bin";
  Put(path, std::string(1000, 'x'));
  EXPECT_EQ(files.ReadAll(path, 1000).bytes.size(), 1000u);
  const platform::FileContent over = files.ReadAll(path, 999);
  EXPECT_EQ(over.status, Status::TooLarge);
  EXPECT_TRUE(over.bytes.empty());
  // Names that open a device or a folder, checked on the open handle.
  EXPECT_EQ(files.ReadAll(u"NUL", kNoLimit).status, Status::NotADiskFile);
  EXPECT_EQ(files.ReadAll(root_ + u"x\\..\\NUL", kNoLimit).status, Status::NotADiskFile);
  try {
    EXPECT_EQ(files.ReadAll(root_, kNoLimit).status, Status::NotADiskFile);
  } catch (const PlatformError& error) {
    // Opening a folder as a file is refused outright.
    EXPECT_EQ(error.Code(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  }
}

TEST(SystemLocale, ConvertsAndComparesAsTheUserLocaleDoes) {
  SystemLocale locale;
  EXPECT_EQ(locale.AnsiCodePage(), ::GetACP());
  EXPECT_EQ(locale.ToCodePage(1252, u""), "");
  EXPECT_EQ(locale.ToCodePage(1252, u"a\u00E9\u20AC\u4E2D"), "a\xE9\x80?");
  EXPECT_EQ(locale.FromCodePage(1252, "a\xE9\x80"), u"a\u00E9\u20AC");
  EXPECT_EQ(locale.FromCodePage(CP_UTF8, "\xC3\xA9"), u"\u00E9");
  EXPECT_EQ(locale.FromCodePage(1252, ""), u"");

  EXPECT_TRUE(locale.EqualIgnoreCase(u"SessionId", u"sESSIONiD"));
  EXPECT_TRUE(locale.EqualIgnoreCase(u"\u00C9t\u00E9", u"\u00E9T\u00C9"));
  EXPECT_FALSE(locale.EqualIgnoreCase(u"ab", u"abc"));
  EXPECT_FALSE(locale.EqualIgnoreCase(u"ab", u"ac"));

  EXPECT_EQ(locale.IgnoreCaseKey(u"SessionId"), locale.IgnoreCaseKey(u"sESSIONiD"));
  EXPECT_EQ(locale.IgnoreCaseKey(u"\u00C9t\u00E9"), locale.IgnoreCaseKey(u"\u00E9T\u00C9"));
  EXPECT_NE(locale.IgnoreCaseKey(u"ab"), locale.IgnoreCaseKey(u"ac"));
  EXPECT_NE(locale.IgnoreCaseKey(u""), locale.IgnoreCaseKey(u"a"));
}

TEST(MergeCookieList, FoldsLetterCaseAsTheUserLocaleDoes) {
  SystemLocale locale;
  EXPECT_EQ(MergeCookieList(u"\u00C9t\u00E9=1; A=1; \u00E9T\u00C9=2; a=2; \u00E9t\u00E9s=3", locale),
            u"\u00C9t\u00E9=2; A=2; \u00E9t\u00E9s=3");
}

}  // namespace
}  // namespace zyp::cookies
