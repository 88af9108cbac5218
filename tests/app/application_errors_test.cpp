// Errors of the application shell that happen outside the work itself: a main
// window that cannot be created, and an error raised by a notice that the
// message loop handles just before it takes the quit message. Each is shown
// in exactly one error box; the test closes the boxes of its own process.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "app/application.h"
#include "app/main_window.h"
#include "cookies/cookie_store.h"
#include "intake/trace.h"
#include "pipes/pipe_module.h"
#include "tests/e2e/harness.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"
#include "tests/fakes/fake_notification_area.h"

namespace zyp::app {
namespace {

using namespace std::chrono_literals;

// Presses OK on every error box of this process and keeps their texts.
class BoxCloser {
 public:
  BoxCloser()
      : thread_([this] {
          while (!stop_) {
            const auto box = e2e::WaitForDialog(::GetCurrentProcessId(), 50ms);
            if (!box) continue;
            {
              const std::lock_guard<std::mutex> lock(mutex_);
              texts_.push_back(box->text);
            }
            e2e::PressOk(*box);
            e2e::WaitUntil([&] { return !::IsWindow(box->window); }, 10s);
          }
        }) {}
  ~BoxCloser() {
    stop_ = true;
    thread_.join();
  }
  // A box is closed before the call that showed it returns: once that call
  // is back, every box it showed is here.
  std::vector<std::wstring> Texts() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::wstring> texts_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Refuses the creation of the main window on the calling thread while it lives.
class MainWindowRefusal {
 public:
  MainWindowRefusal() : hook_(::SetWindowsHookExW(WH_CBT, &Refuse, nullptr, ::GetCurrentThreadId())) {}
  ~MainWindowRefusal() { ::UnhookWindowsHookEx(hook_); }
  bool Active() const { return hook_ != nullptr; }

 private:
  static LRESULT CALLBACK Refuse(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && e2e::WindowClass(reinterpret_cast<HWND>(wParam)) == L"TfrmZYPQueueAddURL") return 1;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }
  HHOOK hook_;
};

// Runs the loop; a loop that would wait for ever is ended after a while by a
// quit message from another thread. How long it ran.
std::chrono::milliseconds RunAtMostAWhile(Application& application) {
  const DWORD loopThread = ::GetCurrentThreadId();
  std::atomic<bool> returned{false};
  std::thread guard([&] {
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    while (!returned && std::chrono::steady_clock::now() < giveUp) std::this_thread::sleep_for(10ms);
    if (!returned) ::PostThreadMessageW(loopThread, WM_QUIT, 0, 0);
  });
  const auto start = std::chrono::steady_clock::now();
  application.Run();
  const auto ran = std::chrono::steady_clock::now() - start;
  returned = true;
  guard.join();
  return std::chrono::duration_cast<std::chrono::milliseconds>(ran);
}

TEST(ApplicationErrors, AMainWindowThatCannotBeCreatedIsReportedAndEndsTheRunWithExitCode1) {
  pipes::PipeModule pipeModule;
  Application application;
  fakes::FakeNotificationArea notificationArea;
  fakes::FakeFiles files;
  fakes::FakeLocale locale;
  cookies::CookieStore cookies(files, locale);
  intake::Trace trace;  // off
  BoxCloser boxes;
  bool worked = false;
  {
    const MainWindowRefusal refusal;
    ASSERT_TRUE(refusal.Active());
    MainWindow mainWindow(application, notificationArea, files, locale, cookies, trace, [&](intake::Services&) {
      worked = true;
      return intake::Delivery::Delivered;
    });
    EXPECT_EQ(mainWindow.Handle(), nullptr);
    EXPECT_FALSE(worked) << "no work without the window";
    // Nothing would ever close a window that does not exist: the loop must
    // know at once that the run is over.
    EXPECT_LT(RunAtMostAWhile(application), 1s) << "the message loop would wait for ever";
    mainWindow.DestroyComponents();
    EXPECT_EQ(mainWindow.ExitCode(), 1);
  }
  const auto texts = boxes.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind(L"The program's window cannot be created", 0), 0u) << e2e::Utf8(texts[0]);
}

// A window on the main thread whose handler fails, as a pipe notice can.
class FailingWindow final : public win32::MessageWindow {
 public:
  FailingWindow() { Create(L"ApplicationErrorsFailingWindow", 0, WS_POPUP, L"", 0, 0, 0, 0); }

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_APP) throw Error(u"The notice failed");
    return MessageWindow::HandleMessage(message, wParam, lParam);
  }
};

TEST(ApplicationErrors, AnErrorOfANoticeHandledJustBeforeTheQuitMessageIsReportedOnce) {
  Application application;
  FailingWindow window;
  ASSERT_NE(window.Handle(), nullptr);
  BoxCloser boxes;
  // The quit message waits in the queue; the notice is sent from another
  // thread, so the loop's first look at the queue handles it and then takes
  // the quit message.
  ::PostQuitMessage(0);
  std::thread notifier([&] { ::SendMessageW(window.Handle(), WM_APP, 0, 0); });
  ASSERT_TRUE(e2e::WaitUntil(zyp::testing::SentMessageWaiting, 10s));
  application.Run();
  notifier.join();
  EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"The notice failed."});
}

}  // namespace
}  // namespace zyp::app
