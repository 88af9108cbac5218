#include "app/tray_icon.h"

#include "platform/win32/wide_text.h"

namespace zyp::app {

namespace {

using platform::NotifyAction;

// The version the record asks for on shells that know it.
constexpr std::uint32_t kNotifyIconVersion = 3;
constexpr std::uint32_t kFirstShellWithVersions = 5;

}  // namespace

TTrayIcon::TTrayIcon(TrayApplication& application, platform::NotificationArea& notificationArea,
                     std::uint32_t retryBudgetMs)
    : application_(application),
      area_(notificationArea),
      taskbarCreated_(::RegisterWindowMessageW(L"TaskbarCreated")),
      retryBudgetMs_(retryBudgetMs) {
  // A top-level window, not a message-only one: only top-level windows hear
  // the shell's broadcast when it starts again.
  if (!Create(L"TTrayIconWindow", WS_EX_TOOLWINDOW, WS_POPUP, L"", 0, 0, 0, 0)) throw win32::LastPlatformError();
}

TTrayIcon::~TTrayIcon() {
  try {
    SetActive(false);
  } catch (...) {
    // Nothing may leave a destructor; the window goes all the same.
  }
}

void TTrayIcon::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (loading_) return;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

void TTrayIcon::Loaded() {
  if (!loading_) return;
  loading_ = false;
  // With no image list and no icon of its own, the component shows the application's.
  currentIcon_ = application_.ApplicationIcon();
  if (active_) Activate();
  if (!visibility_.Contains(TTrayVisibility::tvVisibleTaskBar)) {
    application_.SetShowMainWindow(false);
    ::SetActiveWindow(application_.ApplicationWindow());
    HideApplication();
    state_.Include(TTrayIconState::tisAppHiddenButNotMinimized);
  }
}

void TTrayIcon::Activate() {
  record_ = {};
  record_.window = reinterpret_cast<platform::WindowHandle>(Handle());
  record_.id = kIconId;
  record_.flags = platform::kNotifyMessage | platform::kNotifyIcon | platform::kNotifyTip;
  record_.callbackMessage = kCallbackMessage;
  record_.icon = reinterpret_cast<std::uintptr_t>(currentIcon_);
  setVersion_ = area_.ShellMajorVersion() >= kFirstShellWithVersions;
  if (setVersion_) record_.version = kNotifyIconVersion;

  application_.WatchMessages(this);
  state_.Include(TTrayIconState::tisHooked);
  if (!(visibility_.Contains(TTrayVisibility::tvAutoHideIcon) && ApplicationCountsAsVisible())) AddIcon();
}

void TTrayIcon::Deactivate() {
  if (state_.Contains(TTrayIconState::tisHooked)) {
    application_.WatchMessages(nullptr);
    state_.Exclude(TTrayIconState::tisHooked);
  }
  if (state_.Contains(TTrayIconState::tisTrayIconVisible)) RemoveIcon();
}

bool TTrayIcon::ApplicationCountsAsVisible() const {
  return !state_.Contains(TTrayIconState::tisAppHiddenButNotMinimized) && !::IsIconic(application_.ApplicationWindow());
}

void TTrayIcon::HideApplication() {
  // Hiding would otherwise animate like a minimise; switched off for this
  // one call and on again, never saved to the user's profile.
  const bool animation = area_.AnimationOn();
  if (animation) area_.SetAnimation(false);
  ::ShowWindow(application_.ApplicationWindow(), SW_HIDE);
  if (animation) area_.SetAnimation(true);
}

void TTrayIcon::AddIcon() {
  if (!Notify(NotifyAction::kAdd)) return;
  state_.Include(TTrayIconState::tisTrayIconVisible);
  if (setVersion_) Notify(NotifyAction::kSetVersion);
}

void TTrayIcon::RemoveIcon() {
  Notify(NotifyAction::kDelete);
  // Whether or not the shell confirmed it, the icon is not ours to show any more.
  state_.Exclude(TTrayIconState::tisTrayIconVisible);
}

bool TTrayIcon::Notify(NotifyAction action) {
  platform::NotifyResult result = area_.Notify(action, record_);
  for (int attempt = 0; !result.succeeded && attempt < kMaxRetries; ++attempt) {
    // Only a shell that is there but busy may succeed later; any other
    // error, or no notification area at all, is final.
    if (result.lastError != 0 && result.lastError != ERROR_TIMEOUT) return false;
    if (visibility_.Contains(TTrayVisibility::tvNoRetryOnFailure)) return false;
    if (retryBudgetMs_ < kRetryPauseMs || !area_.Present()) return false;
    retryBudgetMs_ -= kRetryPauseMs;
    area_.Pause(kRetryPauseMs);
    // A failed add may have put the icon there after all, and a failed
    // delete may have taken it away: a modify tells which.
    if (action == NotifyAction::kAdd && area_.Notify(NotifyAction::kModify, record_).succeeded) return true;
    if (action == NotifyAction::kDelete && !area_.Notify(NotifyAction::kModify, record_).succeeded) return true;
    result = area_.Notify(action, record_);
  }
  return result.succeeded;
}

LRESULT TTrayIcon::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (active_ && !loading_) {
    if (message == taskbarCreated_) {
      // The shell has started again and knows no icons: put ours back.
      if (state_.Contains(TTrayIconState::tisTrayIconVisible)) RemoveIcon();
      AddIcon();
      return 0;
    }
    if (message == WM_ENDSESSION) {
      if (wParam != FALSE) {
        if (state_.Contains(TTrayIconState::tisTrayIconVisible)) RemoveIcon();
      } else {
        AddIcon();
      }
      return 0;
    }
  }
  return MessageWindow::HandleMessage(message, wParam, lParam);
}

bool TTrayIcon::ApplicationMessage(UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_SYSCOMMAND || (wParam & 0xFFF0) != SC_MINIMIZE) return false;
  if (!visibility_.Contains(TTrayVisibility::tvAutoHide)) return false;
  HideApplication();
  state_.Include(TTrayIconState::tisAppHiddenButNotMinimized);
  AddIcon();
  return true;
}

}  // namespace zyp::app
