#include "app/tray_icon.h"

#include "platform/win32/wide_text.h"

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
  if (!Create(kWindowClass, WS_EX_TOOLWINDOW, WS_POPUP, L"", 0, 0, 0, 0)) throw win32::LastPlatformError();
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
  // one call and on again, never saved to the user's profile.
  const bool animation = area_.AnimationOn();
  if (animation) area_.SetAnimation(false);
  ::ShowWindow(application_.ApplicationWindow(), SW_HIDE);
  if (animation) area_.SetAnimation(true);
}

void TrayIcon::AddIcon() {
  if (!Notify(NotifyAction::kAdd)) return;
  state_.Include(TrayIconState::TrayIconVisible);
  if (set_version_) Notify(NotifyAction::kSetVersion);
}

void TrayIcon::RemoveIcon() {
  Notify(NotifyAction::kDelete);
  // Whether or not the shell confirmed it, the icon is not ours to show any more.
  state_.Exclude(TrayIconState::TrayIconVisible);
}

bool TrayIcon::Notify(NotifyAction action) {
  platform::NotifyResult result = area_.Notify(action, record_);
  for (int attempt = 0; !result.succeeded && attempt < kMaxRetries; ++attempt) {
    // Only a shell that is there but busy may succeed later; any other
    // error, or no notification area at all, is final.
    if (result.lastError != 0 && result.lastError != ERROR_TIMEOUT) return false;
    if (visibility_.Contains(TrayVisibility::NoRetryOnFailure)) return false;
    if (retry_budget_ms_ < kRetryPauseMs || !area_.Present()) return false;
    retry_budget_ms_ -= kRetryPauseMs;
    area_.Pause(kRetryPauseMs);
    // A failed add may have put the icon there after all, and a failed
    // delete may have taken it away: a modify tells which.
    if (action == NotifyAction::kAdd && area_.Notify(NotifyAction::kModify, record_).succeeded) return true;
    if (action == NotifyAction::kDelete && !area_.Notify(NotifyAction::kModify, record_).succeeded) return true;
    result = area_.Notify(action, record_);
  }
  return result.succeeded;
}

LRESULT TrayIcon::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (active_ && !loading_) {
    if (message == taskbar_created_) {
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
