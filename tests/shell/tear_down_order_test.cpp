// The close of the program, with its real shell: the tray component goes
// before the pipe client, and the pipe worker has closed its end of the pipe
// before the pipe module shuts down.
#include <windows.h>

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "app/application.h"
#include "app/main_window.h"
#include "cookies/cookie_store.h"
#include "intake/queue_messages.h"
#include "pipes/pipe_module.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"
#include "tests/support/test_pipe_server.h"

namespace zyp::app {
namespace {

constexpr std::string_view kMessage = "ADDURL:http://order.example/";

// A notification area that is there and takes every call, noting for each
// deletion whether the pipe client was still connected at that moment.
class RecordingArea : public platform::NotificationArea {
 public:
  explicit RecordingArea(testing::TestPipeServer& server) : server_(server) {}
  std::vector<platform::NotifyAction> actions;
  bool clientConnectedAtDelete = false;

  void Notify(platform::NotifyAction action, const platform::NotifyIconRecord&) override {
    actions.push_back(action);
    if (action == platform::NotifyAction::kDelete) clientConnectedAtDelete = server_.ClientConnected(0);
  }
  bool Present() override { return true; }
  std::uint32_t ShellMajorVersion() override { return 6; }
  bool AnimationOn() override { return false; }
  void SetAnimation(bool) override {}
  void Pause(std::uint32_t) override {}

 private:
  testing::TestPipeServer& server_;
};

TEST(TearDownOrder, TrayGoesBeforeThePipeClientWhoseWorkerEndsBeforeTheModule) {
  // Reads everything until the client goes; its end stays open, so the test
  // can ask whether the client's end is still there.
  testing::TestPipeServer server({.name = u"ZYPQueueURLPipeServer"});
  RecordingArea area(server);
  fakes::FakeFiles files;
  fakes::FakeLocale locale;
  int exitCode = -1;
  bool clientConnectedAfterLoop = false;
  bool clientConnectedAfterComponents = true;
  {
    Application application;
    pipes::PipeModule pipeModule;
    cookies::CookieStore cookies(files, locale);
    intake::Trace trace;
    MainWindow mainWindow(application, area, files, locale, cookies, trace, [&](intake::Services& services) {
      EXPECT_TRUE(intake::ConnectQueue(services.pipe));
      intake::SendPipeText(services.pipe, u"ADDURL:http://order.example/");
      services.windowing.Post(services.windowing.MainWindow(), WM_CLOSE, 0, 0);
      return intake::Delivery::Queued;
    });
    // The shell restarted: the icon goes into the notification area.
    const HWND trayWindow = ::FindWindowW(L"TTrayIconWindow", nullptr);
    ASSERT_NE(trayWindow, nullptr);
    ::SendMessageW(trayWindow, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);

    application.Run();
    mainWindow.FinishDelivery(std::chrono::steady_clock::now() + std::chrono::seconds(3));
    clientConnectedAfterLoop = server.ClientConnected(0);
    mainWindow.DestroyComponents();
    clientConnectedAfterComponents = server.ClientConnected(0);
    exitCode = mainWindow.ExitCode();
  }
  EXPECT_TRUE(clientConnectedAfterLoop);
  ASSERT_FALSE(area.actions.empty());
  EXPECT_EQ(area.actions.back(), platform::NotifyAction::kDelete);
  EXPECT_TRUE(area.clientConnectedAtDelete) << "the tray component went after the pipe client";
  EXPECT_FALSE(clientConnectedAfterComponents) << "the worker still held the pipe when the components were gone";
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(server.WaitForMessages(1, 5000));
  EXPECT_EQ(server.Messages(), std::vector<testing::Bytes>{testing::Bytes(kMessage.begin(), kMessage.end())});
}

}  // namespace
}  // namespace zyp::app
