// Address and list requests, run as the real program beside the stand-in
// companions: the exact bytes that reach the queue manager, who is started
// with what, the cookie files and registry values written before anything is
// delivered, parameter files, and long inputs that need the multi-packet
// framing.
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

std::u16string U16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

class RequestsTest : public ManagerFreeTest {
 protected:
  RunResult Run(const std::wstring& arguments) {
    const RunResult run = RunProgram(kProgramExe, arguments, {journal_.Variable()}, 15s);
    EXPECT_TRUE(run.finished) << "still running after " << run.elapsed.count() << " ms";
    EXPECT_FALSE(run.windowShown);
    return run;
  }

  // The queue messages a manager journaled, once it has ended.
  std::vector<JsonValue> MessagesOf(StandInManager& manager) {
    manager.Stop();
    return journal_.Events("message", manager.Id());
  }

  // The one "start" entry of a companion that the program started.
  std::optional<JsonValue> StartOf(std::u16string_view process) {
    return journal_.WaitFor("start", 10s, [process](const JsonValue& e) { return e["process"].AsText() == process; });
  }
};

struct MessageCase {
  const char* name;
  std::wstring arguments;
  std::string bytes;
};

TEST_F(RequestsTest, RunningManagerReceivesTheExactBytes) {
  const bool keyExisted = SettingsKeySnapshot::KeyExists();
  const MessageCase cases[] = {
      // A browser tag and agent with no settings key: nothing is created.
      {"address with link text", L"abc \"linktext=xyz\" cookies=IE \"agent=Mozilla/5.0 (X11)\"",
       "ADDURL:abc[<{(xyz)}>]"},
      {"empty list", L"zypqueue=", "ADDURLS:"},
      {"no arguments", L"", "ADDURL:"},
      {"list unchanged", L"\"zypqueue=http://a/1 HTTP://a/2  \"", "ADDURLS:http://a/1 HTTP://a/2  "},
      {"non-ASCII address and title", L"http://x/caf\u00e9 \"pagetitle= \u20ac \U0001F600 \"",
       "ADDURL:http://x/caf\xC3\xA9[<{(\xE2\x82\xAC \xF0\x9F\x98\x80)}>]"},
      {"non-ASCII list", L"zypqueue=\u00e9\u4e2d", "ADDURLS:\xC3\xA9\xE4\xB8\xAD"},
  };
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const RunResult run = Run(cases[i].arguments);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_GE(run.elapsed, kPause);
    EXPECT_TRUE(WaitUntil([&] { return journal_.Events("message").size() > i; }, 5s)) << journal_.Text();
  }
  const auto messages = MessagesOf(manager);
  ASSERT_EQ(messages.size(), std::size(cases)) << journal_.Text();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_TRUE(messages[i]["bytes_hex"].AsText() == HexBytes(cases[i].bytes)) << journal_.Text();
    EXPECT_EQ(messages[i]["size"].AsInt(), static_cast<std::int64_t>(cases[i].bytes.size()));
    EXPECT_EQ(messages[i]["packets"].AsInt(), 1);
  }
  EXPECT_EQ(journal_.Events("start").size(), 1u) << "nothing was started\n" << journal_.Text();
  if (!keyExisted) {
    EXPECT_FALSE(SettingsKeySnapshot::KeyExists()) << "the program never creates its settings key";
  }
}

TEST_F(RequestsTest, AbsentManagerIsStartedWithTheQuotedAddressText) {
  const RunResult run = Run(L"abc \"linktext=xyz\"");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_GE(run.elapsed, kPause);
  const auto start = StartOf(u"ZYPQueueManager");
  ASSERT_TRUE(start.has_value()) << journal_.Text();
  EXPECT_EQ((*start)["args"].AsTexts(), std::vector<std::u16string>{u"abc[<{(xyz)}>]"});
  const std::u16string commandLine = (*start)["command_line"].AsText();
  EXPECT_TRUE(commandLine.ends_with(u"ZYPQueueManager.exe\" \"abc[<{(xyz)}>]\"")) << journal_.Text();
}

TEST_F(RequestsTest, LinkExplorerTakesTheAddressAtOnce) {
  const std::wstring requests[] = {
      L"http://www.example.com/page.html linkexplorer",
      L"http://www.example.com/page.html linktext=linkexplorer",
      L"http://www.example.com/page.html \"pagetitle= linkexplorer\"",
  };
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  for (const std::wstring& request : requests) {
    SCOPED_TRACE(std::string(request.begin(), request.end()));
    const std::size_t before = journal_.Events("start").size();
    const RunResult run = Run(request);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_LT(run.elapsed, kPause) << "no pause before the close";
    ASSERT_TRUE(WaitUntil([&] { return journal_.Events("start").size() > before; }, 10s)) << journal_.Text();
    const JsonValue start = journal_.Events("start")[before];
    EXPECT_EQ(start["process"].AsText(), u"ZYPLinkExplorer");
    EXPECT_EQ(start["args"].AsTexts(), std::vector<std::u16string>{u"http://www.example.com/page.html"});
  }
  EXPECT_TRUE(MessagesOf(manager).empty()) << journal_.Text();
  EXPECT_TRUE(journal_.Events("connect").empty()) << journal_.Text();
}

TEST_F(RequestsTest, BusyPipeGetsNothingAndNothingIsStarted) {
  StandInManager manager(journal_, {{L"ZYP_QM_BUSY", L"1"}, {L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  const RunResult run = Run(L"abc \"linktext=xyz\"");
  EXPECT_EQ(run.exitCode, 2u) << "not delivered";
  EXPECT_GE(run.elapsed, kPause + kConnectionWait);
  EXPECT_TRUE(MessagesOf(manager).empty()) << journal_.Text();
  EXPECT_EQ(journal_.Events("start").size(), 1u) << "neither a second manager nor the link explorer\n"
                                                 << journal_.Text();
}

// The stand-in reads the site's cookie file when the message arrives, and the
// program connects only after its registry steps: both must already be done.
TEST_F(RequestsTest, CookiesAndBrowserSettingsAreStoredBeforeTheAddressIsSent) {
  // The key holds only what the test puts there; it is put back afterwards.
  SettingsKeySnapshot settings;
  SettingsKeySnapshot::RemoveKey();
  SettingsKeySnapshot::SetText(L"ZYPPageTitle", L"Title from the browser");
  SettingsKeySnapshot::SetText(L"ZYPLinkText", L"Link from the browser");
  const std::wstring cookieFile = TempFolder() + L"ZYP\\cookies\\example.com.dat";
  ::DeleteFileW(cookieFile.c_str());

  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  ChildProcess program(kProgramExe,
                       L"http://shop.example.com/a \"cookielist=lang=en; theme = dark;size=10; LANG=de; flag; note=\" "
                       L"cookies=FF \"agent=Mozilla/5.0 (X11)\" loadfromregistry \"linktext=ignored\"",
                       {journal_.Variable()});
  ASSERT_TRUE(journal_.WaitFor("connect", 10s, [&](const JsonValue& e) { return e["pid"].AsInt() == manager.Id(); }))
      << journal_.Text();
  // With "loadfromregistry" the stored agent of FF wins over the argument;
  // none is stored, so the default is written.
  EXPECT_EQ(SettingsKeySnapshot::Text(L"ZYPAgentFF"), L"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
  EXPECT_EQ(SettingsKeySnapshot::Text(L"ZYPPageTitle"), std::nullopt) << "read and deleted";
  EXPECT_EQ(SettingsKeySnapshot::Text(L"ZYPLinkText"), std::nullopt) << "read and deleted";

  const RunResult run = program.Wait(15s);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  const auto messages = MessagesOf(manager);
  ASSERT_EQ(messages.size(), 1u) << journal_.Text();
  EXPECT_EQ(messages[0]["text"].AsText(), u"ADDURL:http://shop.example.com/a[<{(Link from the browser)}>]");
  EXPECT_EQ(messages[0]["cookie_file"].AsText(), U16(cookieFile));
  EXPECT_EQ(messages[0]["cookies"].AsText(), u"lang=de; theme = dark; size=10") << journal_.Text();
  ::DeleteFileW(cookieFile.c_str());
}

TEST_F(RequestsTest, ParameterFileIsDeletedAfterUseAndParamfileIsKept) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  {
    RequestFile file(L"request.txt", {L"zyp parameter file", L"http://a.example/one", L"linktext=First one"});
    const RunResult run = Run(L"\"" + file.Path() + L"\"");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(FileExists(file.Path())) << "a parameter file is deleted once read";
  }
  {
    RequestFile file(L"paramfile.txt", {L"http://a.example/two", L"pagetitle=Second one"});
    const RunResult run = Run(L"\"paramfile=" + file.Path() + L"\"");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(FileExists(file.Path())) << "a file named by paramfile= is kept";
  }
  std::vector<std::u16string> texts;
  for (const JsonValue& message : MessagesOf(manager)) texts.push_back(message["text"].AsText());
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"ADDURL:http://a.example/one[<{(First one)}>]",
                                                u"ADDURL:http://a.example/two[<{(Second one)}>]"}))
      << journal_.Text();
}

// Far beyond what a command line can carry: a 1 MiB cookie list reaches the
// site's cookie file whole before the address is sent.
TEST_F(RequestsTest, LongCookieListIsStoredWhole) {
  std::wstring cookieList;
  for (int i = 0; cookieList.size() < (1u << 20); ++i) {
    const std::wstring number = std::to_wstring(10000000 + i).substr(1);
    cookieList += (i == 0 ? L"" : L"; ") + (L"name" + number) + L"=value" + std::to_wstring(i % 10);
  }
  const std::wstring cookieFile = TempFolder() + L"ZYP\\cookies\\example.com.dat";
  RequestFile file(L"cookies.txt", {L"ZYP Parameter File", L"http://files.example.com/big.bin",
                                    L"cookielist=" + cookieList, L"linktext=Big file"});

  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  const RunResult run = Run(L"\"" + file.Path() + L"\"");
  EXPECT_EQ(run.exitCode, 0u);
  const auto messages = MessagesOf(manager);
  ASSERT_EQ(messages.size(), 1u) << journal_.Text().substr(0, 4000);
  EXPECT_EQ(messages[0]["text"].AsText(), u"ADDURL:http://files.example.com/big.bin[<{(Big file)}>]");
  EXPECT_TRUE(messages[0]["cookies"].AsText() == U16(cookieList)) << "the cookie file holds the whole list";
  ::DeleteFileW(cookieFile.c_str());
}

// A 64 KiB page title makes the message longer than one pipe write: start
// packet, two pieces, end packet. Each packet's "sent" notice waits for the
// main thread, which sleeps through the pause, so most of the message goes
// out after the close request; none of it may be lost.
TEST_F(RequestsTest, LongTitleArrivesAsOneMultiPacketMessage) {
  std::wstring title;
  for (int i = 0; title.size() < (64u << 10); ++i) title += (i % 50 == 0) ? L"\u00e9\u4e2d" : L"Ab";
  const std::wstring address = L"http://files.example.com/big.bin";
  RequestFile file(L"title.txt", {L"ZYP Parameter File", address, L"pagetitle=" + title});

  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  const RunResult run = Run(L"\"" + file.Path() + L"\"");
  const auto messages = MessagesOf(manager);
  ASSERT_EQ(messages.size(), 1u) << journal_.Text().substr(0, 4000);
  EXPECT_EQ(run.exitCode, 0u);
  const std::string bytes = Utf8(L"ADDURL:" + address + L"[<{(" + title + L")}>]");
  ASSERT_GT(bytes.size(), 65534u);
  EXPECT_EQ(messages[0]["size"].AsInt(), static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(messages[0]["packets"].AsInt(), static_cast<std::int64_t>(2 + (bytes.size() + 65533) / 65534))
      << "start packet, pieces, end packet";
  EXPECT_TRUE(messages[0]["bytes_hex"].AsText() == HexBytes(bytes)) << "the message arrived changed";
}

// Page texts may hold double quotes; a started program must still get
// exactly one argument.
TEST_F(RequestsTest, QuotesInPageTextsCannotAddArguments) {
  {
    RequestFile file(L"quotes.txt", {L"ZYP Parameter File", L"http://q.example/a\"b", L"linktext=x\" /evil \"y"});
    const RunResult run = Run(L"\"" + file.Path() + L"\"");
    EXPECT_EQ(run.exitCode, 0u);
    const auto start = StartOf(u"ZYPQueueManager");
    ASSERT_TRUE(start.has_value()) << journal_.Text();
    EXPECT_EQ((*start)["args"].AsTexts(), std::vector<std::u16string>{u"http://q.example/a%22b[<{(x /evil y)}>]"});
  }
  {
    RequestFile file(L"quotes-le.txt", {L"ZYP Parameter File", L"http://q.example/a\" /evil", L"linkexplorer"});
    const RunResult run = Run(L"\"" + file.Path() + L"\"");
    EXPECT_EQ(run.exitCode, 0u);
    const auto start = StartOf(u"ZYPLinkExplorer");
    ASSERT_TRUE(start.has_value()) << journal_.Text();
    EXPECT_EQ((*start)["args"].AsTexts(), std::vector<std::u16string>{u"http://q.example/a%22 /evil"});
  }
}

}  // namespace
}  // namespace zyp::e2e
