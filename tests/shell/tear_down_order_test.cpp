// The close of the program, with its real shell: the tray component goes
// before the pipe client, and the pipe worker has closed its end of the pipe
// before the pipe module shuts down.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/application.h"
#include "app/main_window.h"
#include "cookies/cookie_store.h"
#include "intake/queue_messages.h"
#include "pipes/pipe_module.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"

namespace zyp::app {
namespace {

constexpr wchar_t kPipePath[] = L"\\\\.\\pipe\\ZYPQueueURLPipeServer";

// One pipe instance that reads everything until the client goes; its handle
// stays open so the test can ask whether the client end is still there.
class ReadingServer {
 public:
  ReadingServer() {
    pipe_ = ::CreateNamedPipeW(kPipePath, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                               PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, nullptr);
    reader_ = std::thread([this] {
      ::ConnectNamedPipe(pipe_, nullptr);
      connected_ = true;
      std::vector<char> buffer(65536);
      DWORD read = 0;
      while (::ReadFile(pipe_, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) ||
             ::GetLastError() == ERROR_MORE_DATA) {
        received_ += read;
      }
    });
  }
  ~ReadingServer() {
    // The reader ends when its client goes; one that never came is let in
    // and sent away at once.
    if (!connected_) ::CloseHandle(::CreateFileW(kPipePath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    reader_.join();
    ::CloseHandle(pipe_);
  }
  bool Valid() const { return pipe_ != INVALID_HANDLE_VALUE; }
  // Whether a client end is still open on the instance.
  bool ClientConnected() const {
    DWORD available = 0;
    return ::PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr) != FALSE;
  }
  std::size_t Received() const { return received_; }

 private:
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  std::thread reader_;
  std::atomic<bool> connected_{false};
  std::atomic<std::size_t> received_{0};
};

// A notification area that is there and takes every call, noting for each
// deletion whether the pipe client was still connected at that moment.
class RecordingArea : public platform::NotificationArea {
 public:
  explicit RecordingArea(const ReadingServer& server) : server_(server) {}
  std::vector<platform::NotifyAction> actions;
  bool clientConnectedAtDelete = false;

  void Notify(platform::NotifyAction action, const platform::NotifyIconRecord&) override {
    actions.push_back(action);
    if (action == platform::NotifyAction::kDelete) clientConnectedAtDelete = server_.ClientConnected();
  }
  bool Present() override { return true; }
  std::uint32_t ShellMajorVersion() override { return 6; }
  bool AnimationOn() override { return false; }
  void SetAnimation(bool) override {}
  void Pause(std::uint32_t) override {}

 private:
  const ReadingServer& server_;
};

TEST(TearDownOrder, TrayGoesBeforeThePipeClientWhoseWorkerEndsBeforeTheModule) {
  ReadingServer server;
  ASSERT_TRUE(server.Valid());
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
    clientConnectedAfterLoop = server.ClientConnected();
    mainWindow.DestroyComponents();
    clientConnectedAfterComponents = server.ClientConnected();
    exitCode = mainWindow.ExitCode();
  }
  EXPECT_TRUE(clientConnectedAfterLoop);
  ASSERT_FALSE(area.actions.empty());
  EXPECT_EQ(area.actions.back(), platform::NotifyAction::kDelete);
  EXPECT_TRUE(area.clientConnectedAtDelete) << "the tray component went after the pipe client";
  EXPECT_FALSE(clientConnectedAfterComponents) << "the worker still held the pipe when the components were gone";
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(server.Received(), std::string("ADDURL:http://order.example/").size());
}

}  // namespace
}  // namespace zyp::app
