#include "intake/argument_list.h"

#include <gtest/gtest.h>

#include "cookies/cookie_store.h"
#include "intake/parameter_file.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"
#include "tests/fakes/fake_registry.h"

namespace zyp::intake {
namespace {

using Lines = std::vector<std::u16string>;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(DecodeParameterLines, ChoosesTheEncodingByItsMarkAndCutsLines) {
  fakes::FakeLocale locale;
  const struct {
    const char* name;
    std::string bytes;
    Lines lines;
  } cases[] = {
      {"utf8 mark", "\xEF\xBB\xBFh\xC3\xA9\r\nx", {u"h\u00e9", u"x"}},
      {"utf16le mark",
       std::string("\xFF\xFE"
                   "a\0\xE9\0\n\0b\0",
                   10),
       {u"a\u00e9", u"b"}},
      {"utf16be mark", std::string("\xFE\xFF\0a\x20\xAC\0\r\0b", 10), {u"a\u20ac", u"b"}},
      {"ansi fallback", "caf\xE9", {u"caf\u00e9"}},
      {"utf16 without mark ends at its first nul", std::string("a\0b\0", 4), {u"a"}},
      {"mark only", "\xEF\xBB\xBF", {}},
      {"empty", "", {}},
      {"cr, lf and cr lf", "a\rb\nc\r\nd", {u"a", u"b", u"c", u"d"}},
      {"trailing break adds no line", "a\r\n", {u"a"}},
      {"empty lines in the middle stay", "a\n\nb\r\rc\n\r\nd", {u"a", u"", u"b", u"", u"c", u"", u"d"}},
      {"empty last line before the break", "a\n\n", {u"a", u""}},
      {"nul ends the text", std::string("a\nb\0c\nd", 7), {u"a", u"b"}},
      {"lines are taken as they stand", "  x  \n\tcookielist= a ", {u"  x  ", u"\tcookielist= a "}},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeParameterLines(Bytes(c.bytes), locale), c.lines) << c.name;
}

class BuildArgumentListTest : public ::testing::Test {
 protected:
  ArgumentList Build(const std::u16string& commandLine) {
    const CommandLine line(u"prog " + commandLine);
    return BuildArgumentList(line.Argument(1), line, files, locale);
  }
  fakes::FakeFiles files;
  fakes::FakeLocale locale;
};

TEST_F(BuildArgumentListTest, ParameterFileIsReadAndDeleted) {
  files.AddFile(u"C:\\t\\p.txt", "zyp parameter FILE\r\nhttp://a/x\r\npagetitle=T\r\n");
  EXPECT_EQ(Build(u"C:\\t\\p.txt ignored"), (Lines{u"http://a/x", u"pagetitle=T"}));
  EXPECT_FALSE(files.HasFile(u"C:\\t\\p.txt"));
}

TEST_F(BuildArgumentListTest, FilesThatAreNotParameterFilesAreLeftAlone) {
  const struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"header with a trailing blank", "ZYP Parameter File \r\nhttp://a/x\r\n"},
      {"a picture", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"},
      {"an empty file", ""},
  };
  for (const auto& c : cases) {
    files.AddFile(u"C:\\t\\f.dat", c.content);
    EXPECT_EQ(Build(u"C:\\t\\f.dat cookies=FF"), (Lines{u"C:\\t\\f.dat", u"cookies=FF"})) << c.name;
    EXPECT_TRUE(files.HasFile(u"C:\\t\\f.dat")) << c.name;
  }
}

TEST_F(BuildArgumentListTest, HeaderOnlyFileIsDeletedAndTheCommandLineUsed) {
  files.AddFile(u"C:\\t\\p.txt", "ZYP Parameter File");
  EXPECT_EQ(Build(u"C:\\t\\p.txt"), (Lines{u"C:\\t\\p.txt"}));
  EXPECT_FALSE(files.HasFile(u"C:\\t\\p.txt"));
}

TEST_F(BuildArgumentListTest, ParamFileArgumentReadsTheFileWithoutHeaderAndKeepsIt) {
  files.AddFile(u"C:\\t\\q.txt", "http://a/x\ncookies=IE\n");
  EXPECT_EQ(Build(u"paramfile=C:\\t\\q.txt"), (Lines{u"http://a/x", u"cookies=IE"}));
  EXPECT_TRUE(files.HasFile(u"C:\\t\\q.txt"));
  // Letter case matters.
  EXPECT_EQ(Build(u"PARAMFILE=C:\\t\\q.txt"), (Lines{u"PARAMFILE=C:\\t\\q.txt"}));
}

TEST(IsParameterFilePath, OnlyAFullPathOnADriveLetterThatNamesNoDevice) {
  for (const char16_t* path : {u"C:\\t\\p.txt", u"c:/t/p.txt", u"Z:\\p", u"C:\\t\\console.txt", u"C:\\t\\p.txt:stream"})
    EXPECT_TRUE(IsParameterFilePath(path)) << std::u16string_view(path).size();
  const char16_t* const refused[] = {
      u"\\\\attacker.example\\share\\x.txt",  // the network
      u"//attacker.example/share/x.txt",
      u"\\/attacker.example/share/x.txt",
      u"\\\\.\\C:\\t\\p.txt",  // the device namespace
      u"\\\\?\\C:\\t\\p.txt",
      u"\\\\.\\pipe\\ZYPQueueURLPipeServer",
      u"CON",
      u"CONIN$",
      u"conout$",
      u"NUL",
      u"COM1",
      u"lpt1.txt",
      u"CLOCK$",  // devices
      u"C:\\t\\CON",
      u"C:\\t\\nul.txt",
      u"c:/t/CONIN$",
      u"C:\\t\\com1:",
      u"C:\\t\\aux .x",
      u"p.txt",
      u"t\\p.txt",
      u"\\t\\p.txt",
      u"/t/p.txt",
      u"C:p.txt",
      u"C:",
      u"C:\\",
      u"C:\\t\\",  // relative, or no file
      u"",
      u"http://a/x",
      u"1:\\x",
      u"\u00C4:\\x",
  };
  for (const char16_t* path : refused) {
    const std::u16string text(path);
    EXPECT_FALSE(IsParameterFilePath(text)) << std::string(text.begin(), text.end());
  }
}

TEST_F(BuildArgumentListTest, AddressesThatAreNotLocalFilePathsAreNeverLookedAt) {
  // Each would exist if it were asked for.
  const char16_t* const addresses[] = {u"\\\\attacker.example\\share\\x.txt",
                                       u"\\\\.\\C:\\t\\p.txt",
                                       u"\\\\?\\C:\\t\\p.txt",
                                       u"CONIN$",
                                       u"NUL",
                                       u"t\\p.txt"};
  for (const char16_t* address : addresses) files.AddDevice(address);
  files.AddFile(u"C:\\t\\p.txt", "ZYP Parameter File\r\nhttp://a/x\r\n");
  files.log.clear();
  for (const char16_t* address : addresses) {
    const std::u16string text(address);
    EXPECT_EQ(Build(text + u" cookies=FF"), (Lines{text, u"cookies=FF"})) << std::string(text.begin(), text.end());
  }
  EXPECT_TRUE(files.log.empty());
  EXPECT_TRUE(files.HasFile(u"C:\\t\\p.txt"));
}

TEST_F(BuildArgumentListTest, ALocalPathThatOpensSomethingElseIsAnAddress) {
  files.AddDevice(u"C:\\t\\dev");
  EXPECT_EQ(Build(u"C:\\t\\dev x"), (Lines{u"C:\\t\\dev", u"x"}));
}

TEST_F(BuildArgumentListTest, AParamFileThatCannotBeReadAsOneStopsTheRequest) {
  files.AddFolder(u"C:\\t\\folder");
  files.AddDevice(u"C:\\t\\dev");
  files.AddFile(u"C:\\t\\p.txt", "http://a/x\r\n");
  const struct {
    const char* name;
    std::u16string argument;
    bool opened;
  } cases[] = {
      {"missing", u"paramfile=C:\\t\\none.txt", true},
      {"a folder", u"paramfile=C:\\t\\folder", true},
      {"a device behind a local path", u"paramfile=C:\\t\\dev", true},
      {"a device", u"paramfile=NUL", false},
      {"the network", u"paramfile=\\\\attacker.example\\share\\p.txt", false},
      {"relative", u"paramfile=p.txt", false},
      {"empty", u"paramfile=", false},
  };
  for (const auto& c : cases) {
    files.log.clear();
    EXPECT_THROW(Build(c.argument + u" x"), Error) << c.name;
    EXPECT_EQ(files.log.empty(), !c.opened) << c.name;
  }
  EXPECT_TRUE(files.HasFile(u"C:\\t\\p.txt"));
}

TEST_F(BuildArgumentListTest, AParameterFileOverTheLimitIsAnErrorAndKept) {
  const std::string big = "ZYP Parameter File\r\nhttp://a/x\r\n" + std::string(kMaxParameterFileSize, 'p');
  files.AddFile(u"C:\\t\\big.txt", big);
  EXPECT_THROW(Build(u"C:\\t\\big.txt"), Error);
  EXPECT_THROW(Build(u"paramfile=C:\\t\\big.txt"), Error);
  EXPECT_TRUE(files.HasFile(u"C:\\t\\big.txt"));
}

TEST_F(BuildArgumentListTest, NoArgumentsGiveAnEmptyList) { EXPECT_TRUE(Build(u"").empty()); }

TEST_F(BuildArgumentListTest, ParameterFileThatCannotBeReadIsAnError) {
  files.AddFile(u"C:\\t\\p.txt", "ZYP Parameter File\r\nhttp://a/x\r\n");
  const auto holder = files.CreateForWriting(u"C:\\t\\p.txt");  // another writer holds it
  EXPECT_THROW(Build(u"C:\\t\\p.txt"), PlatformError);
}

class ParseArgumentListTest : public ::testing::Test {
 protected:
  RequestFields Parse(const ArgumentList& arguments) { return ParseArgumentList(arguments, {cookies, registry}); }
  std::string Cookies(const std::u16string& domain) {
    return files.Content(u"C:\\Temp\\ZYP\\cookies\\" + domain + u".dat");
  }
  static constexpr char16_t kKey[] = u"SOFTWARE\\Tarvesk Software\\Pelloran";

  fakes::FakeFiles files;
  fakes::FakeLocale locale;
  fakes::FakeRegistry registry;
  cookies::CookieStore cookies{files, locale};
};

TEST_F(ParseArgumentListTest, KeywordsFillTheFields) {
  const struct {
    const char* name;
    ArgumentList arguments;
    std::u16string address, pageTitle, linkText, tag, extra;
  } cases[] = {
      {"empty list", {}, u"", u"", u"", u"", u""},
      {"address only", {u"http://a/x"}, u"http://a/x", u"", u"", u"", u""},
      {"item 0 is never a keyword", {u"agent=x", u"cookies=FF"}, u"agent=x", u"", u"", u"FF", u""},
      {"capitals and blanks", {u"a", u"PAGETITLE=  \tT  "}, u"a", u"T", u"", u"", u"T"},
      {"link text wins", {u"a", u"linktext=L", u"pagetitle=P"}, u"a", u"P", u"L", u"", u"L"},
      {"blank link text falls back", {u"a", u"linktext=   ", u"pagetitle=P"}, u"a", u"P", u"", u"", u"P"},
      {"later overrides earlier", {u"a", u"pagetitle=1", u"pagetitle=2"}, u"a", u"2", u"", u"", u"2"},
      {"inner blanks stay", {u"a", u"cookies= F F "}, u"a", u"", u"", u"F F", u""},
      {"unknown items are ignored", {u"a", u"page=x", u"pagetitle"}, u"a", u"", u"", u"", u""},
      {"only A to Z fold", {u"a", u"pagetit\u0130e=x"}, u"a", u"", u"", u"", u""},
  };
  for (const auto& c : cases) {
    const RequestFields f = Parse(c.arguments);
    EXPECT_EQ(f.Address, c.address) << c.name;
    EXPECT_EQ(f.PageTitle, c.pageTitle) << c.name;
    EXPECT_EQ(f.LinkText, c.linkText) << c.name;
    EXPECT_EQ(f.BrowserTag, c.tag) << c.name;
    EXPECT_EQ(f.ExtraText, c.extra) << c.name;
  }
}

TEST_F(ParseArgumentListTest, LoadFromRegistryIsAWholeItem) {
  registry.AddKey(kKey);
  const struct {
    std::u16string item;
    bool load;
  } cases[] = {{u"loadfromregistry", true},
               {u"LOADFROMREGISTRY", true},
               {u" loadfromregistry", false},
               {u"loadfromregistry ", false},
               {u"loadfromregistryx", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.item));
    registry.SetString(kKey, u"ZYPPageTitle", u"from registry");
    const RequestFields f = Parse({u"a", u"pagetitle=arg", c.item});
    EXPECT_EQ(f.LoadFromRegistry, c.load);
    EXPECT_EQ(f.PageTitle, c.load ? u"from registry" : u"arg");
  }
}

TEST_F(ParseArgumentListTest, CookieListsAreWrittenAtOnceInListOrder) {
  Parse({u"http://www.example.com/a", u"cookielist= a=1; b=2 ", u"COOKIELIST=a=3", u"cookielist=c=4 "});
  EXPECT_EQ(Cookies(u"example.com"), "c=4\r\n");
  std::vector<std::u16string> creates;
  for (const auto& entry : files.log)
    if (entry.rfind(u"create ", 0) == 0) creates.push_back(entry);
  EXPECT_EQ(creates.size(), 3u);

  Parse({u"http://www.example.com/a", u"cookielist="});
  EXPECT_FALSE(files.HasFile(u"C:\\Temp\\ZYP\\cookies\\example.com.dat"));
}

}  // namespace
}  // namespace zyp::intake
