// The tray icon component against a recording notification area and a real
// application window: the load step, when the icon comes and goes, the retry
// rule and the component's own window.
#include "app/tray_icon.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win32/message_window.h"
#include "platform/win32/system_notification_area.h"
#include "platform/win32/wide_text.h"
#include "tests/fakes/fake_notification_area.h"
#include "tests/support/wait.h"

namespace zyp::app {
namespace {

using fakes::NotifyAnswer;
using Log = std::vector<std::string>;
using enum TrayVisibility;
using enum TrayIconState;

// A visible stand-in for the application window that hands its messages to
// the watcher first, as the application object does.
class FakeApplication final : public win32::MessageWindow, public TrayApplication {
 public:
  FakeApplication() {
    Create(L"TrayTestApplication", WS_EX_TOOLWINDOW, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, L"app", 0, 0, 0, 0);
    ::ShowWindow(Handle(), SW_SHOWNOACTIVATE);
  }

  HWND ApplicationWindow() override { return Handle(); }
  HICON ApplicationIcon() override { return icon; }
  void WatchMessages(ApplicationMessageWatcher* newWatcher) override { watcher = newWatcher; }

  HICON icon = ::LoadIconW(nullptr, IDI_APPLICATION);
  ApplicationMessageWatcher* watcher = nullptr;

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (watcher != nullptr && watcher->ApplicationMessage(message, wParam, lParam)) return 0;
    return MessageWindow::HandleMessage(message, wParam, lParam);
  }
};

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override { area_.watchedWindow = application_.Handle(); }

  // The component as the main window's design sets it up.
  void Create(std::uint32_t retryBudgetMs = TrayIcon::kRetryBudgetMs) {
    tray_ = std::make_unique<TrayIcon>(application_, area_, retryBudgetMs);
    tray_->SetActive(true);
    tray_->SetVisibility({AutoHide, AutoHideIcon});
  }
  void Load(std::uint32_t retryBudgetMs = TrayIcon::kRetryBudgetMs) {
    Create(retryBudgetMs);
    tray_->Loaded();
    area_.log.clear();
    area_.records.clear();
  }
  void TaskbarCreated() { ::SendMessageW(tray_->Handle(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0); }
  bool IconShown() const { return tray_->State().Contains(TrayIconVisible); }

  fakes::FakeNotificationArea area_;
  FakeApplication application_;
  std::unique_ptr<TrayIcon> tray_;
};

TEST_F(TrayIconTest, LoadHidesTheApplicationWithTheAnimationOffAroundItAndAddsNoIcon) {
  struct Case {
    bool animation;
    Log expected;
  };
  const Case cases[] = {
      {true, {"animation?", "animation off (shown)", "animation on (hidden)"}},
      {false, {"animation?"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.animation ? "animation on" : "animation off");
    ::ShowWindow(application_.Handle(), SW_SHOWNOACTIVATE);
    area_.log.clear();
    area_.animation = c.animation;

    Create();
    tray_->Loaded();
    EXPECT_EQ(area_.log, c.expected);
    EXPECT_EQ(area_.animation, c.animation);
    EXPECT_FALSE(::IsWindowVisible(application_.Handle()));
    EXPECT_EQ(tray_->State(), (TrayIconStates{Hooked, AppHiddenButNotMinimized}));
    EXPECT_NE(application_.watcher, nullptr);
    tray_.reset();
    EXPECT_EQ(application_.watcher, nullptr);
  }
}

TEST_F(TrayIconTest, ActiveWaitsForTheLoadStep) {
  Create();
  EXPECT_TRUE(tray_->Active());
  TaskbarCreated();
  EXPECT_TRUE(tray_->State().Empty());
  EXPECT_EQ(application_.watcher, nullptr);
  EXPECT_TRUE(area_.log.empty());

  tray_->Loaded();
  EXPECT_TRUE(tray_->State().Contains(Hooked));
  EXPECT_FALSE(IconShown());
  // Switched off after loading, the component lets go at once.
  tray_->SetActive(false);
  EXPECT_FALSE(tray_->State().Contains(Hooked));
  EXPECT_EQ(application_.watcher, nullptr);
}

TEST_F(TrayIconTest, TaskbarCreatedAddsTheIconAndDestructionRemovesIt) {
  for (const std::uint32_t shellVersion : {6u, 4u}) {
    SCOPED_TRACE(shellVersion);
    area_.shellVersion = shellVersion;
    const bool versioned = shellVersion >= 5;
    Load();
    TaskbarCreated();
    EXPECT_EQ(area_.log, versioned ? Log({"add", "setversion"}) : Log({"add"}));
    EXPECT_TRUE(IconShown());
    const platform::NotifyIconRecord& record = area_.records.front();
    EXPECT_EQ(record.window, reinterpret_cast<platform::WindowHandle>(tray_->Handle()));
    EXPECT_EQ(record.id, 1u);
    EXPECT_EQ(record.flags, platform::kNotifyMessage | platform::kNotifyIcon | platform::kNotifyTip);
    EXPECT_EQ(record.callbackMessage, static_cast<std::uint32_t>(WM_USER + 1));
    EXPECT_EQ(record.icon, reinterpret_cast<std::uintptr_t>(application_.icon));
    EXPECT_TRUE(record.tip.empty());
    EXPECT_EQ(record.version, versioned ? 3u : 0u);

    // Another restart of the shell: the old icon goes first.
    area_.log.clear();
    TaskbarCreated();
    EXPECT_EQ(area_.log, versioned ? Log({"delete", "add", "setversion"}) : Log({"delete", "add"}));

    area_.log.clear();
    const HWND window = tray_->Handle();
    tray_.reset();
    EXPECT_EQ(area_.log, Log({"delete"}));
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(application_.watcher, nullptr);
  }
}

TEST_F(TrayIconTest, SessionEndRemovesTheIconAndACancelledOneAddsIt) {
  Load();
  ::SendMessageW(tray_->Handle(), WM_ENDSESSION, TRUE, 0);
  EXPECT_TRUE(area_.log.empty()) << "no icon to remove yet";
  ::SendMessageW(tray_->Handle(), WM_ENDSESSION, FALSE, 0);
  EXPECT_EQ(area_.log, Log({"add", "setversion"}));
  EXPECT_TRUE(IconShown());
  ::SendMessageW(tray_->Handle(), WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(area_.log, Log({"add", "setversion", "delete"}));
  EXPECT_FALSE(IconShown());
  tray_.reset();
  EXPECT_EQ(area_.log, Log({"add", "setversion", "delete"})) << "nothing left to remove at exit";
}

TEST_F(TrayIconTest, MinimisingTheApplicationHidesItAgainAndAddsTheIcon) {
  area_.animation = true;
  Load();
  ::ShowWindow(application_.Handle(), SW_SHOWNOACTIVATE);
  ::SendMessageW(application_.Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_FALSE(::IsWindowVisible(application_.Handle()));
  EXPECT_FALSE(::IsIconic(application_.Handle()));
  EXPECT_EQ(area_.log, Log({"animation?", "animation off (shown)", "animation on (hidden)", "add", "setversion"}));
  EXPECT_TRUE(area_.animation);

  // Other system commands are not the component's business.
  area_.log.clear();
  ::SendMessageW(application_.Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_TRUE(area_.log.empty());
}

TEST_F(TrayIconTest, ItsWindowIsAHiddenTopLevelToolWindow) {
  Load();
  TaskbarCreated();
  const HWND window = tray_->Handle();
  wchar_t className[64] = {};
  ::GetClassNameW(window, className, 64);
  EXPECT_STREQ(className, L"TTrayIconWindow");
  // A message-only window would have the message window as its parent and
  // would never hear the shell's broadcast.
  EXPECT_EQ(::GetAncestor(window, GA_PARENT), ::GetDesktopWindow());
  EXPECT_EQ(::GetWindowLongPtrW(window, GWL_STYLE) & WS_POPUP, WS_POPUP);
  EXPECT_EQ(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, WS_EX_TOOLWINDOW);
  EXPECT_FALSE(::IsWindowVisible(window));
  RECT rect{};
  ::GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 0);
  EXPECT_EQ(rect.bottom - rect.top, 0);
}

TEST_F(TrayIconTest, TheShellsBroadcastReachesTheComponent) {
  Load();
  ::PostMessageW(HWND_BROADCAST, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  zyp::testing::PumpUntil([&] { return IconShown(); }, std::chrono::seconds(5));
  EXPECT_EQ(area_.log, Log({"add", "setversion"}));
}

// A failed call is tried again only for "no error" or a time-out, a pause
// apart; a modify shows whether an add or a delete happened after all.
TEST_F(TrayIconTest, RetryRule) {
  const NotifyAnswer busy{false, 0}, timeout{false, ERROR_TIMEOUT}, denied{false, ERROR_ACCESS_DENIED};
  const NotifyAnswer ok{true, 0};
  struct Case {
    const char* name;
    bool atExit;  // a delete at destruction, else an add on TaskbarCreated
    std::vector<NotifyAnswer> results;
    Log expected;
    bool shown;  // after the add
    std::uint32_t budgetMs = 60000;
    TrayVisibilities extra{};
    bool present = true;
  };
  const std::vector<Case> cases = {
      {"add busy, the icon is there after all", false, {busy}, {"add", "pause 1000", "modify", "setversion"}, true},
      {"add timed out, made again", false, {timeout, busy}, {"add", "pause 1000", "modify", "add", "setversion"}, true},
      {"add fails with another error", false, {denied}, {"add"}, false},
      {"a repeated add fails with another error",
       false,
       {busy, busy, denied},
       {"add", "pause 1000", "modify", "add"},
       false},
      {"no retry wanted", false, {busy}, {"add"}, false, 60000, {NoRetryOnFailure}},
      {"no notification area", false, {timeout}, {"add"}, false, 60000, {}, false},
      {"delete busy, the icon is gone", true, {busy, busy}, {"delete", "pause 1000", "modify"}, false},
      {"delete timed out, made again", true, {timeout, ok}, {"delete", "pause 1000", "modify", "delete"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    area_ = {};
    area_.present = c.present;
    Load(c.budgetMs);
    TrayVisibilities visibility = tray_->Visibility();
    if (c.extra.Contains(NoRetryOnFailure)) visibility.Include(NoRetryOnFailure);
    tray_->SetVisibility(visibility);
    if (c.atExit) {
      TaskbarCreated();
      area_.log.clear();
    }
    area_.results.assign(c.results.begin(), c.results.end());
    if (c.atExit) {
      tray_.reset();
    } else {
      TaskbarCreated();
      EXPECT_EQ(IconShown(), c.shown);
      tray_.reset();
      // What is left at exit is not part of the case.
      if (c.shown) area_.log.pop_back();
    }
    EXPECT_EQ(area_.log, c.expected);
  }
}

TEST_F(TrayIconTest, AttemptsStopAfterThirtyOneRetries) {
  Load(60000);
  area_.results.assign(1 + 31 * 2, NotifyAnswer{false, 0});
  TaskbarCreated();
  EXPECT_FALSE(IconShown());
  EXPECT_EQ(area_.pausedMs, 31000u);
  EXPECT_EQ(area_.NotifyLog().size(), 1u + 31 * 3);
  EXPECT_EQ(area_.results.size(), 0u);
}

TEST_F(TrayIconTest, AllRetriesOfAComponentShareOneBudget) {
  Load();
  area_.results.assign(20, NotifyAnswer{false, 0});
  TaskbarCreated();
  ::SendMessageW(tray_->Handle(), WM_ENDSESSION, FALSE, 0);
  EXPECT_EQ(area_.pausedMs, TrayIcon::kRetryBudgetMs);
  EXPECT_EQ(area_.NotifyLog(), Log({"add", "pause 1000", "modify", "add", "add"}));
  EXPECT_FALSE(IconShown());
}

// The animation setting on the real system is the same after the load step
// as before, whichever value the system holds.
TEST(TrayIconSystemTest, TheAnimationSettingSurvivesTheLoadStep) {
  win32::SystemNotificationArea area;
  const bool before = area.AnimationOn();
  for (const bool on : {true, false}) {
    area.SetAnimation(on);
    // Wine accepts the setting and keeps none: its animation is always off.
    if (area.AnimationOn() != on) continue;
    FakeApplication application;
    TrayIcon tray(application, area);
    tray.SetActive(true);
    tray.SetVisibility({AutoHide, AutoHideIcon});
    tray.Loaded();
    EXPECT_FALSE(::IsWindowVisible(application.Handle()));
    EXPECT_EQ(area.AnimationOn(), on);
  }
  area.SetAnimation(before);
}

// Without a notification area the shell refuses at once: nothing may stall.
TEST(TrayIconSystemTest, AMissingNotificationAreaCostsNoPause) {
  win32::SystemNotificationArea area;
  if (area.Present()) GTEST_SKIP() << "this desktop has a notification area";
  FakeApplication application;
  auto tray = std::make_unique<TrayIcon>(application, area);
  tray->SetActive(true);
  tray->SetVisibility({AutoHide, AutoHideIcon});
  tray->Loaded();
  const DWORD start = ::GetTickCount();
  ::SendMessageW(tray->Handle(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  tray.reset();
  EXPECT_LT(::GetTickCount() - start, 500u);
}

}  // namespace
}  // namespace zyp::app
