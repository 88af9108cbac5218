#include "intake/dispatch.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_desktop.h"

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
  void Run(const std::u16string& arguments) {
    desktop.commandLine = u"\"C:\\Program Files\\ZYP\\ZYPQueueAddURL.exe\" " + arguments;
    Services services{desktop, desktop, desktop};
    Dispatch(services);
  }
  void ManagerRunning() { desktop.windows[u"TfrmZYPQueueManager"] = kManager; }

  static constexpr platform::WindowHandle kManager = 0x777;
  FakeDesktop desktop;
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
    Run(c.word);
    const std::vector<std::string> expected = {"move -1000,-1000", "register", "find", "post", "close"};
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

TEST_F(DispatchTest, FailedStartIsIgnored) {
  desktop.shellSucceeds = false;
  Run(u"START");
  EXPECT_EQ(desktop.log.back(), "close");
}

}  // namespace
}  // namespace zyp::intake
