#include "intake/dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fakes/fake_services.h"

namespace zyp::intake {
namespace {

using fakes::FakeDesktop;

struct KindCase {
  std::u16string argument;
  RequestKind kind;
};

TEST(ClassifyFirstArgument, TestsControlWordsThenTheListPrefix) {
  const KindCase cases[] = {
      {u"START", RequestKind::Control},     {u"start", RequestKind::Control},
      {u"Stop", RequestKind::Control},      {u"sToP", RequestKind::Control},
      {u"START ", RequestKind::Address},    {u"STARTX", RequestKind::Address},
      {u"", RequestKind::Address},          {u"zypqueue=", RequestKind::List},
      {u"zypqueue=a b", RequestKind::List}, {u"ZYPQUEUE=a", RequestKind::Address},
      {u"zypqueue", RequestKind::Address},  {u" zypqueue=a", RequestKind::Address},
      {u"\u017ftop", RequestKind::Address},  // only ASCII letters fold
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyFirstArgument(c.argument), c.kind);
}

class DispatchTest : public ::testing::Test {
 protected:
  Delivery Run(const std::u16string& arguments) {
    desktop.commandLine = u"\"C:\\Program Files\\ZYP\\ZYPQueueAddURL.exe\" " + arguments;
    return Dispatch(fake.services);
  }
  void ManagerRunning() { desktop.windows[u"TfrmZYPQueueManager"] = kManager; }
  std::vector<std::string> Writes() const { return fake.pipe.writes; }

  static constexpr platform::WindowHandle kManager = 0x777;
  fakes::FakeServices fake;
  FakeDesktop& desktop = fake.desktop;
};

TEST_F(DispatchTest, ControlWordWithManagerRunningPostsProgressWithoutPause) {
  ManagerRunning();
  struct {
    std::u16string word;
    std::intptr_t lParam;
  } const cases[] = {{u"START", 1}, {u"stop", 0}, {u"Stop", 0}, {u"sTaRt", 1}};
  for (const auto& c : cases) {
    desktop = FakeDesktop{};
    ManagerRunning();
    EXPECT_EQ(Run(c.word), Delivery::Delivered);
    const std::vector<std::string> expected = {"move -1000,-1000", "find", "register", "post", "close"};
    EXPECT_EQ(desktop.log, expected);
    ASSERT_EQ(desktop.posted.size(), 2u);
    EXPECT_EQ(desktop.posted[0].window, kManager);
    EXPECT_EQ(desktop.posted[0].message, 0xC123u);
    EXPECT_EQ(desktop.posted[0].wParam, 101u);
    EXPECT_EQ(desktop.posted[0].lParam, c.lParam);
    EXPECT_EQ(desktop.posted[1].window, FakeDesktop::kMainWindow);
    EXPECT_EQ(desktop.posted[1].wParam, 0u);
    EXPECT_EQ(desktop.posted[1].lParam, 0);
    EXPECT_EQ(desktop.pausedMs, 0u);
  }
}

TEST_F(DispatchTest, ControlWordWithManagerAbsentStartsItWithTheWordAsTyped) {
  Run(u"\"sToP\"");
  ASSERT_EQ(desktop.started.size(), 1u);
  const auto& start = desktop.started[0];
  EXPECT_EQ(start.owner, FakeDesktop::kApplicationWindow);
  EXPECT_EQ(start.verb, u"open");
  EXPECT_EQ(start.file, u"C:\\Program Files\\ZYP\\ZYPQueueManager.exe");
  EXPECT_EQ(start.parameters, u"sToP");
  EXPECT_EQ(start.directory, u"C:\\Program Files\\ZYP\\");
  EXPECT_EQ(start.showCommand, 1);
  EXPECT_EQ(desktop.log.back(), "close");
  EXPECT_EQ(desktop.pausedMs, 0u);
}

TEST_F(DispatchTest, FailedStartIsIgnoredButNotCountedAsDelivered) {
  desktop.shellSucceeds = false;
  EXPECT_EQ(Run(u"START"), Delivery::NotDelivered);
  EXPECT_EQ(desktop.log.back(), "close");
}

TEST_F(DispatchTest, ListRequestSendsTheListUnchanged) {
  ManagerRunning();
  EXPECT_EQ(Run(u"\"zypqueue=http://a/1 HTTP://B/2\""), Delivery::Queued);
  EXPECT_EQ(Writes(), std::vector<std::string>{"ADDURLS:http://a/1 HTTP://B/2"});
  ASSERT_EQ(fake.pipe.connects.size(), 1u);
  EXPECT_EQ(fake.pipe.connects[0].waitTime, 3000u);
  EXPECT_TRUE(fake.pipe.connects[0].start);
  EXPECT_EQ(desktop.pausedMs, 1000u);
  EXPECT_EQ(desktop.log.back(), "close");
  // The manager window is looked up once only for a list request.
  EXPECT_EQ(std::count(desktop.log.begin(), desktop.log.end(), "find"), 1);

  fake.pipe.writes.clear();
  EXPECT_EQ(Run(u"zypqueue="), Delivery::Queued);
  EXPECT_EQ(Writes(), std::vector<std::string>{"ADDURLS:"});
}

TEST_F(DispatchTest, ListRequestWithoutManagerOrPipeSendsAndStartsNothing) {
  EXPECT_EQ(Run(u"zypqueue=x"), Delivery::NotDelivered);
  ManagerRunning();
  fake.pipe.serverAnswers = false;
  EXPECT_EQ(Run(u"zypqueue=x"), Delivery::NotDelivered);
  EXPECT_TRUE(Writes().empty());
  EXPECT_TRUE(desktop.started.empty());
  EXPECT_EQ(desktop.pausedMs, 2000u);
}

TEST_F(DispatchTest, ParameterFileWhoseAddressLineIsAListSendsTheList) {
  const char kFile[] =
      "ZYP Parameter File\r\nzypqueue=http://a/1 http://a/\xC3\xA9\r\ncookielist=k=v\r\nlinktext=x\r\n";
  fake.files.AddFile(u"C:\\t\\p.txt", std::string("\xEF\xBB\xBF") + kFile);
  ManagerRunning();
  EXPECT_EQ(Run(u"C:\\t\\p.txt"), Delivery::Queued);
  EXPECT_EQ(Writes(), std::vector<std::string>{"ADDURLS:http://a/1 http://a/\xC3\xA9"});
  // The other lines are ignored, as after a list on the command line.
  EXPECT_FALSE(fake.files.HasFile(u"C:\\Temp\\ZYP\\cookies\\a.dat"));
  EXPECT_EQ(fake.registry.opens, 0);
  EXPECT_FALSE(fake.files.HasFile(u"C:\\t\\p.txt")) << "read and deleted";
  EXPECT_EQ(std::count(desktop.log.begin(), desktop.log.end(), "find"), 1) << "the lookup of dispatch only";
  EXPECT_EQ(desktop.pausedMs, 1000u);

  // As on the command line: no manager, no start; the prefix's case is exact.
  desktop = FakeDesktop{};
  fake.pipe.writes.clear();
  fake.files.AddFile(u"C:\\t\\p.txt", std::string("\xEF\xBB\xBF") + kFile);
  EXPECT_EQ(Run(u"C:\\t\\p.txt"), Delivery::NotDelivered);
  EXPECT_TRUE(desktop.started.empty());
  EXPECT_TRUE(Writes().empty());
  ManagerRunning();
  fake.files.AddFile(u"C:\\t\\p.txt", "ZYP Parameter File\r\nZYPQUEUE=http://a/1\r\n");
  Run(u"C:\\t\\p.txt");
  EXPECT_EQ(Writes(), std::vector<std::string>{"ADDURL:ZYPQUEUE=http://a/1"});
}

TEST_F(DispatchTest, AddressRequestGoesOverThePipe) {
  ManagerRunning();
  const struct {
    std::u16string arguments;
    std::string message;
  } cases[] = {
      {u"abc linktext=xyz", "ADDURL:abc[<{(xyz)}>]"},
      {u"", "ADDURL:"},
      {u"ZYPQUEUE=a", "ADDURL:ZYPQUEUE=a"},
      {u"\"START \"", "ADDURL:START "},
      {u"http://a/\u00e9 \"pagetitle=\u20ac \"", "ADDURL:http://a/\xC3\xA9[<{(\xE2\x82\xAC)}>]"},
      {u"a\"\"b \"linktext=say \"", "ADDURL:ab[<{(say)}>]"},
  };
  for (const auto& c : cases) {
    fake.pipe.writes.clear();
    EXPECT_EQ(Run(c.arguments), Delivery::Queued);
    EXPECT_EQ(Writes(), std::vector<std::string>{c.message});
  }
  EXPECT_EQ(Writes()[0].size(), std::string("ADDURL:ab[<{(say)}>]").size());
}

TEST_F(DispatchTest, AddressRequestStartsTheManagerWhenItIsAbsent) {
  EXPECT_EQ(Run(u"abc linktext=xyz"), Delivery::Delivered);
  ASSERT_EQ(desktop.started.size(), 1u);
  EXPECT_EQ(desktop.started[0].file, u"C:\\Program Files\\ZYP\\ZYPQueueManager.exe");
  EXPECT_EQ(desktop.started[0].parameters, u"\"abc[<{(xyz)}>]\"");
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(desktop.pausedMs, 1000u);

  desktop.started.clear();
  Run(u"");
  EXPECT_EQ(desktop.started.at(0).parameters, u"\"\"");
}

TEST_F(DispatchTest, QuotesFromAWebPageCannotAddArguments) {
  // A parameter file can carry quote characters that a command line cannot.
  fake.files.AddFile(u"C:\\t\\p.txt", "ZYP Parameter File\r\nhttp://a/?q=\"x\" /evil\r\nlinktext=x\" /evil \"y\r\n");
  EXPECT_EQ(Run(u"C:\\t\\p.txt"), Delivery::Delivered);
  EXPECT_EQ(desktop.started.at(0).parameters, u"\"http://a/?q=%22x%22 /evil[<{(x /evil y)}>]\"");

  // The pipe message keeps every byte.
  ManagerRunning();
  fake.files.AddFile(u"C:\\t\\p.txt", "ZYP Parameter File\r\nhttp://a/\"q\"\r\nlinktext=\"t\"\r\n");
  Run(u"C:\\t\\p.txt");
  EXPECT_EQ(Writes(), std::vector<std::string>{"ADDURL:http://a/\"q\"[<{(\"t\")}>]"});
}

TEST_F(DispatchTest, AddressRequestWithPipeNotAnsweringSendsAndStartsNothing) {
  ManagerRunning();
  fake.pipe.serverAnswers = false;
  EXPECT_EQ(Run(u"abc"), Delivery::NotDelivered);
  EXPECT_TRUE(desktop.started.empty());
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(desktop.log.back(), "close");
}

TEST_F(DispatchTest, LinkExplorerTakesTheQuotedAddressWithoutPause) {
  const struct {
    std::u16string arguments;
    bool linkExplorer;
  } cases[] = {
      {u"http://a/x linkexplorer cookielist=k=v", true},
      {u"http://a/x linktext=linkexplorer", true},
      {u"http://a/x pagetitle=linkexplorer", true},
      {u"http://a/x linktext=LinkExplorer", false},
      {u"linkexplorer", false},
      {u"http://a/x LINKEXPLORER", false},
  };
  ManagerRunning();
  for (const auto& c : cases) {
    desktop = FakeDesktop{};
    ManagerRunning();
    Run(c.arguments);
    if (c.linkExplorer) {
      ASSERT_EQ(desktop.started.size(), 1u);
      EXPECT_EQ(desktop.started[0].file, u"C:\\Program Files\\ZYP\\ZYPLinkExplorer.exe");
      EXPECT_EQ(desktop.started[0].parameters, u"\"http://a/x\"");
      EXPECT_EQ(desktop.pausedMs, 0u);
    } else {
      EXPECT_TRUE(desktop.started.empty());
      EXPECT_EQ(desktop.pausedMs, 1000u);
    }
    EXPECT_EQ(desktop.log.back(), "close");
  }
  // Cookies were stored before the link explorer started.
  EXPECT_EQ(fake.files.Content(u"C:\\Temp\\ZYP\\cookies\\a.dat"), "k=v\r\n");
}

TEST_F(DispatchTest, UnreadableParameterFileStopsDispatchBeforeTheCloseRequest) {
  ManagerRunning();
  fake.files.AddFile(u"C:\\t\\p.txt", "ZYP Parameter File\r\nhttp://a/\r\n");
  const auto holder = fake.files.CreateForWriting(u"C:\\t\\p.txt");
  EXPECT_THROW(Run(u"C:\\t\\p.txt"), PlatformError);
  EXPECT_NE(desktop.log.back(), "close");
  EXPECT_TRUE(Writes().empty());
}

}  // namespace
}  // namespace zyp::intake

namespace zyp::intake {
namespace {

TEST(ExitCodeFor, TellsDeliveredFromHandedOverFromLost) {
  using enum PipeProgress;
  EXPECT_EQ(ExitCodeFor(Delivery::Delivered, Incomplete, false), 0);
  EXPECT_EQ(ExitCodeFor(Delivery::Queued, Read, false), 0);
  // In the pipe, unread: the manager may still take it, so no fall-back.
  EXPECT_EQ(ExitCodeFor(Delivery::Queued, InPipe, false), 3);
  // Cut before its end: the manager drops whatever part it gets.
  EXPECT_EQ(ExitCodeFor(Delivery::Queued, Incomplete, false), 2);
  EXPECT_EQ(ExitCodeFor(Delivery::NotDelivered, Incomplete, false), 2);
  EXPECT_EQ(ExitCodeFor(Delivery::NotDelivered, InPipe, false), 2);
  EXPECT_EQ(ExitCodeFor(Delivery::NotDelivered, Read, false), 2);
  EXPECT_EQ(ExitCodeFor(Delivery::Delivered, Read, true), 1);
  EXPECT_EQ(ExitCodeFor(Delivery::Queued, InPipe, true), 1);
}

}  // namespace
}  // namespace zyp::intake
