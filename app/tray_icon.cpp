#include "app/tray_icon.h"

#include "platform/error.h"

namespace zyp::app {

namespace {

using platform::NotifyAction;

// The version the record asks for on shells that know it.
constexpr std::uint32_t kNotifyIconVersion = 3;
constexpr std::uint32_t kFirstShellWithVersions = 5;

constexpr wchar_t kWindowClass[] = L"TTrayIconWindow";

}  // namespace

TrayIcon::TrayIcon(TrayApplication& application, platform::NotificationArea& notificationArea,
                   std::uint32_t retryBudgetMs)
    : application_(application),
      area_(notificationArea),
      taskbar_created_(::RegisterWindowMessageW(L"TaskbarCreated")),
      retry_budget_ms_(retryBudgetMs) {
  // A top-level window, not a message-only one: only top-level windows hear
  // the shell's broadcast when it starts again.
  Create(kWindowClass, WS_EX_TOOLWINDOW, WS_POPUP, L"", 0, 0, 0, 0);
}

TrayIcon::~TrayIcon() {
  try {
    SetActive(false);
  } catch (...) {
    // Nothing may leave a destructor; the window goes all the same.
  }
}

void TrayIcon::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (loading_) return;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

void TrayIcon::Loaded() {
  if (!loading_) return;
  loading_ = false;
  // With no image list and no icon of its own, the component shows the application's.
  current_icon_ = application_.ApplicationIcon();
  if (active_) Activate();
  if (!visibility_.Contains(TrayVisibility::VisibleTaskBar)) {
    // Returns the window that was active: a refusal only leaves the
    // activation where it was, which the hiding moves on anyway.
    ::SetActiveWindow(application_.ApplicationWindow());
    HideApplication();
    state_.Include(TrayIconState::AppHiddenButNotMinimized);
  }
}

void TrayIcon::Activate() {
  record_ = {};
  record_.window = reinterpret_cast<platform::WindowHandle>(Handle());
  record_.id = kIconId;
  record_.flags = platform::kNotifyMessage | platform::kNotifyIcon | platform::kNotifyTip;
  record_.callbackMessage = kCallbackMessage;
  record_.icon = reinterpret_cast<std::uintptr_t>(current_icon_);
  set_version_ = area_.ShellMajorVersion() >= kFirstShellWithVersions;
  if (set_version_) record_.version = kNotifyIconVersion;

  application_.WatchMessages(this);
  state_.Include(TrayIconState::Hooked);
  if (!(visibility_.Contains(TrayVisibility::AutoHideIcon) && ApplicationCountsAsVisible())) AddIcon();
}

void TrayIcon::Deactivate() {
  if (state_.Contains(TrayIconState::Hooked)) {
    application_.WatchMessages(nullptr);
    state_.Exclude(TrayIconState::Hooked);
  }
  if (state_.Contains(TrayIconState::TrayIconVisible)) RemoveIcon();
}

bool TrayIcon::ApplicationCountsAsVisible() const {
  return !state_.Contains(TrayIconState::AppHiddenButNotMinimized) && !::IsIconic(application_.ApplicationWindow());
}

void TrayIcon::HideApplication() {
  // Hiding would otherwise animate like a minimise; switched off for this
  // one call and on again, never saved to the user's profile. It only spares
  // an animation: a setting the system will not tell or take leaves the
  // hiding animated, and nothing is reported.
  bool switchedOff = false;
  try {
    if (area_.AnimationOn()) {
      area_.SetAnimation(false);
      switchedOff = true;
    }
  } catch (const PlatformError&) {
  }
  // Returns whether the window was visible before; it cannot fail.
  ::ShowWindow(application_.ApplicationWindow(), SW_HIDE);
  if (!switchedOff) return;
  try {
    area_.SetAnimation(true);
  } catch (const PlatformError&) {
  }
}

void TrayIcon::AddIcon() {
  if (!Notify(NotifyAction::kAdd)) return;
  state_.Include(TrayIconState::TrayIconVisible);
  // An icon that keeps the old behaviour still shows and goes as it should.
  if (set_version_) Notify(NotifyAction::kSetVersion);
}

void TrayIcon::RemoveIcon() {
  // Whether or not the shell confirmed it, the icon is not ours to show any more.
  Notify(NotifyAction::kDelete);
  state_.Exclude(TrayIconState::TrayIconVisible);
}

bool TrayIcon::Notify(NotifyAction action) {
  for (int attempt = 0;; ++attempt) {
    try {
      area_.Notify(action, record_);
      return true;
    } catch (const PlatformError& error) {
      if (!MayRetry(error.Code(), attempt)) return false;
    }
    retry_budget_ms_ -= kRetryPauseMs;
    area_.Pause(kRetryPauseMs);
    // A failed add may have put the icon there after all, and a failed
    // delete may have taken it away: a modify tells which.
    if (action == NotifyAction::kAdd && Succeeds(NotifyAction::kModify)) return true;
    if (action == NotifyAction::kDelete && !Succeeds(NotifyAction::kModify)) return true;
  }
}

bool TrayIcon::MayRetry(std::uint32_t error, int attempt) const {
  if (attempt >= kMaxRetries) return false;
  // Only a shell that is there but busy may succeed later; any other
  // error, or no notification area at all, is final.
  if (error != 0 && error != ERROR_TIMEOUT) return false;
  if (visibility_.Contains(TrayVisibility::NoRetryOnFailure)) return false;
  return retry_budget_ms_ >= kRetryPauseMs && area_.Present();
}

bool TrayIcon::Succeeds(NotifyAction action) {
  try {
    area_.Notify(action, record_);
    return true;
  } catch (const PlatformError&) {
    return false;
  }
}

LRESULT TrayIcon::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (active_ && !loading_) {
    // No number for the message when the system's table of names is full:
    // the shell's restart then goes unheard.
    if (taskbar_created_ != 0 && message == taskbar_created_) {
      // The shell has started again and knows no icons: put ours back.
      if (state_.Contains(TrayIconState::TrayIconVisible)) RemoveIcon();
      AddIcon();
      return 0;
    }
    if (message == WM_ENDSESSION) {
      if (wParam != FALSE) {
        if (state_.Contains(TrayIconState::TrayIconVisible)) RemoveIcon();
      } else {
        AddIcon();
      }
      return 0;
    }
  }
  return MessageWindow::HandleMessage(message, wParam, lParam);
}

bool TrayIcon::ApplicationMessage(UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_SYSCOMMAND || (wParam & 0xFFF0) != SC_MINIMIZE) return false;
  if (!visibility_.Contains(TrayVisibility::AutoHide)) return false;
  HideApplication();
  state_.Include(TrayIconState::AppHiddenButNotMinimized);
  AddIcon();
  return true;
}

}  // namespace zyp::app
