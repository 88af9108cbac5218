#include "cookies/cookie_store.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"

namespace zyp::cookies {
namespace {

using fakes::FakeFiles;
using fakes::FakeLocale;

const std::u16string kFolder = u"C:\\Temp\\ZYP\\cookies";
const std::u16string kExampleFile = kFolder + u"\\example.com.dat";
const std::u16string kQueryFile = kFolder + u"\\example.com_x=1.dat";

class CookieStoreTest : public ::testing::Test {
 protected:
  FakeFiles files;
  FakeLocale locale;
};

TEST_F(CookieStoreTest, StartUpCreatesTheFolderUnderTheTemporaryDirectory) {
  const CookieStore store(files, locale);
  EXPECT_EQ(store.CookieFolder(), kFolder);
  // The fake makes a folder only inside one that exists: the missing ones
  // above it were made first.
  EXPECT_TRUE(files.HasFolder(kFolder));
  EXPECT_TRUE(files.FilePaths().empty());
}

TEST_F(CookieStoreTest, StartUpGoesOnSilentlyWhenTheFolderCannotBeCreated) {
  files.AddFolder(u"C:\\Temp");
  files.DenyChanges(u"C:\\Temp");
  CookieStore store(files, locale);
  EXPECT_EQ(store.CookieFolder(), kFolder);

  store.WriteCookieFile(u"http://example.com/", u"a=1");
  EXPECT_FALSE(files.HasFile(kExampleFile));

  // The folder is tried again before each write.
  files.AllowChanges(u"C:\\Temp");
  store.WriteCookieFile(u"http://example.com/", u"a=1");
  EXPECT_EQ(files.Content(kExampleFile), "a=1\r\n");
}

TEST_F(CookieStoreTest, WithoutATemporaryDirectoryNothingIsEverWritten) {
  // No temporary directory, or one of 1023 characters, too long for its buffer.
  for (const std::u16string& temp : {std::u16string(), u"C:\\" + std::u16string(1019, u'x') + u"\\"}) {
    SCOPED_TRACE(temp.empty() ? "no temporary folder" : "a temporary folder too long for a cookie path");
    files.tempPath = temp;
    files.log.clear();
    CookieStore store(files, locale);
    EXPECT_EQ(store.CookieFolder(), u"");
    EXPECT_EQ(store.GetCookieFileName(u"http://example.com/"), u"");
    store.WriteCookieFile(u"http://example.com/", u"a=1");
    store.WriteCookieFile(u"http://example.com/", u"");
    EXPECT_TRUE(files.log.empty());
  }
}

TEST_F(CookieStoreTest, WritesTheMergedLineInTheAnsiCodePageWithCrLf) {
  CookieStore store(files, locale);
  files.log.clear();
  store.WriteCookieFile(u"http://shop.example.com/a", u"lang=en; theme = dark;size=10; LANG=de; flag; note=");
  EXPECT_EQ(files.Content(kExampleFile), "lang=de; theme = dark; size=10\r\n");
  const std::vector<std::u16string> expected = {u"create " + kExampleFile, u"write 32 " + kExampleFile,
                                                u"close " + kExampleFile};
  EXPECT_EQ(files.log, expected);

  store.WriteCookieFile(u"http://example.com/", u"n=caf\u00E9 \u4E2D\U0001F600");
  EXPECT_EQ(files.Content(kExampleFile), "n=caf\xE9 ???\r\n");

  store.WriteCookieFile(u"http://example.com/", u"a=1; a=");
  EXPECT_EQ(files.Content(kExampleFile), "\r\n");
}

TEST_F(CookieStoreTest, ASecondWriteReplacesTheWholeLine) {
  CookieStore store(files, locale);
  store.WriteCookieFile(u"http://example.com/", u"a=1; only=first");
  store.WriteCookieFile(u"https://www.example.com/x", u"a=2");
  EXPECT_EQ(files.Content(kExampleFile), "a=2\r\n");
}

TEST_F(CookieStoreTest, AnEmptyListOnlyDeletesTheFile) {
  CookieStore store(files, locale);
  files.AddFile(kExampleFile, "a=1\r\n");
  files.log.clear();
  store.WriteCookieFile(u"http://example.com/", u"");
  store.WriteCookieFile(u"http://missing.com/", u"");
  const std::vector<std::u16string> expected = {u"remove " + kExampleFile, u"remove " + kFolder + u"\\missing.com.dat"};
  EXPECT_EQ(files.log, expected);
  EXPECT_TRUE(files.FilePaths().empty());
}

TEST_F(CookieStoreTest, AFileThatIsNeverWrittenIsNeverDeleted) {
  CookieStore store(files, locale);
  // The names the program never writes: one holding "=", one too long.
  const std::u16string longAddress = u"http://" + std::u16string(260, u'a') + u".com/";
  const std::u16string longFile = store.GetCookieFileName(longAddress);
  ASSERT_GT(longFile.size(), 259u);
  files.AddFile(kQueryFile, "someone else's\r\n");
  files.AddFile(longFile, "someone else's\r\n");
  files.log.clear();
  store.WriteCookieFile(u"http://example.com?x=1", u"");
  store.WriteCookieFile(longAddress, u"");
  EXPECT_TRUE(files.log.empty());
  EXPECT_TRUE(files.HasFile(kQueryFile));
  EXPECT_TRUE(files.HasFile(longFile));
}

TEST_F(CookieStoreTest, APathHoldingAnEqualsSignIsNeverWritten) {
  {
    CookieStore store(files, locale);
    files.AddFile(kQueryFile, "old\r\n");
    store.WriteCookieFile(u"http://example.com?x=1", u"a=1");
    EXPECT_EQ(files.Content(kQueryFile), "old\r\n");
  }
  files.tempPath = u"C:\\a=b\\";
  CookieStore store(files, locale);
  store.WriteCookieFile(u"http://example.com/", u"a=1");
  EXPECT_FALSE(files.HasFile(u"C:\\a=b\\ZYP\\cookies\\example.com.dat"));
  EXPECT_TRUE(files.HasFolder(u"C:\\a=b\\ZYP\\cookies"));
}

TEST_F(CookieStoreTest, WritesPathsOfAtMost259Characters) {
  CookieStore store(files, locale);
  // folder + "\" + name + ".com" + ".dat"
  const std::size_t nameFor259 = 259 - kFolder.size() - 1 - 8;
  const std::u16string at259 = u"http://" + std::u16string(nameFor259, u'a') + u".com/";
  const std::u16string at260 = u"http://" + std::u16string(nameFor259 + 1, u'b') + u".com/";
  ASSERT_EQ(store.GetCookieFileName(at259).size(), 259u);
  ASSERT_EQ(store.GetCookieFileName(at260).size(), 260u);
  store.WriteCookieFile(at259, u"a=1");
  store.WriteCookieFile(at260, u"a=1");
  EXPECT_EQ(files.FilePaths(), std::vector<std::u16string>{store.GetCookieFileName(at259)});
}

TEST_F(CookieStoreTest, FailuresAreSilentAndReleaseTheLock) {
  CookieStore store(files, locale);
  files.AddFile(kExampleFile, "old\r\n");
  files.HoldOpen(kExampleFile);
  store.WriteCookieFile(u"http://example.com/", u"a=1");
  EXPECT_EQ(files.Content(kExampleFile), "old\r\n");

  files.HoldOpen(kExampleFile, false);
  files.freeSpace = 3;
  store.WriteCookieFile(u"http://example.com/", u"a=1");
  EXPECT_EQ(files.Content(kExampleFile), "a=1");

  files.freeSpace = 1000;
  store.WriteCookieFile(u"http://example.com/", u"a=2");
  EXPECT_EQ(files.Content(kExampleFile), "a=2\r\n");
}

TEST_F(CookieStoreTest, AnErrorWhileConvertingLeavesTheFileEmpty) {
  class BrokenLocale : public FakeLocale {
   public:
    std::string ToCodePage(std::uint32_t, const std::u16string&) override { throw std::runtime_error("no"); }
  } broken;
  CookieStore store(files, broken);
  files.AddFile(kExampleFile, "old\r\n");
  EXPECT_NO_THROW(store.WriteCookieFile(u"http://example.com/", u"a=1"));
  EXPECT_EQ(files.Content(kExampleFile), "");
  store.WriteCookieFile(u"http://example.com/", u"");
  EXPECT_FALSE(files.HasFile(kExampleFile));
}

TEST_F(CookieStoreTest, AddressesWithoutAFileNameTouchNothing) {
  CookieStore store(files, locale);
  files.log.clear();
  for (const char16_t* address :
       {u"", u"/a", u"http://con.com/", u"http://NUL/x", u"lpt1", u"conin$", u"http://CONOUT$.com/x", u"clock$.net"}) {
    store.WriteCookieFile(address, u"a=1");
    store.WriteCookieFile(address, u"");
  }
  EXPECT_TRUE(files.log.empty());
}

}  // namespace
}  // namespace zyp::cookies
