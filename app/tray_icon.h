#pragma once
// TrayIcon, the main window's notification-area component. In this program
// it keeps the application out of sight: its load step hides the application
// window, and its icon appears only when the shell restarts, a session end is
// cancelled or the application is minimised, and goes again at exit.
#include <windows.h>

#include <cstdint>
#include <initializer_list>

#include "platform/notification_area.h"
#include "platform/win32/message_window.h"

namespace zyp::app {

// A set of enumeration values, one bit each.
template <typename Enum>
class FlagSet {
 public:
  constexpr FlagSet() = default;
  constexpr FlagSet(std::initializer_list<Enum> values) {
    for (Enum value : values) Include(value);
  }
  constexpr bool Contains(Enum value) const { return (bits_ & Bit(value)) != 0; }
  constexpr void Include(Enum value) { bits_ |= Bit(value); }
  constexpr void Exclude(Enum value) { bits_ &= ~Bit(value); }
  constexpr bool Empty() const { return bits_ == 0; }
  friend constexpr bool operator==(FlagSet, FlagSet) = default;

 private:
  static constexpr std::uint32_t Bit(Enum value) { return std::uint32_t{1} << static_cast<unsigned>(value); }
  std::uint32_t bits_ = 0;
};

// The options the program relies on. Absent VisibleTaskBar: the load step
// hides the application window. AutoHide: a minimise hides the application.
// AutoHideIcon: no icon while the application counts as visible. Absent
// NoRetryOnFailure: a failed call of the notification area is tried again.
enum class TrayVisibility {
  VisibleTaskBar,
  AutoHide,
  AutoHideIcon,
  NoRetryOnFailure,
};
using TrayVisibilities = FlagSet<TrayVisibility>;

enum class TrayIconState {
  TrayIconVisible,           // the icon is in the notification area
  Hooked,                    // the application window's messages are watched
  AppHiddenButNotMinimized,  // the component has hidden the application
};
using TrayIconStates = FlagSet<TrayIconState>;

// Sees the application window's messages before the window handles them.
class ApplicationMessageWatcher {
 public:
  // True when the message has been handled and must go no further.
  virtual bool ApplicationMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

 protected:
  ~ApplicationMessageWatcher() = default;
};

// What the component needs of the application object.
class TrayApplication {
 public:
  virtual HWND ApplicationWindow() = 0;
  virtual HICON ApplicationIcon() = 0;
  // From now on hands the application window's messages to the watcher
  // first; nullptr ends that.
  virtual void WatchMessages(ApplicationMessageWatcher* watcher) = 0;

 protected:
  ~TrayApplication() = default;
};

class TrayIcon final : public win32::MessageWindow, private ApplicationMessageWatcher {
 public:
  // The icon's messages come to the component's window as this message.
  static constexpr UINT kCallbackMessage = WM_USER + 1;
  static constexpr UINT kIconId = 1;
  // A failed call of the notification area is tried this many more times,
  // this long apart, ...
  static constexpr int kMaxRetries = 31;
  static constexpr std::uint32_t kRetryPauseMs = 1000;
  // ... but the pauses of one component add up to no more than this: the
  // program ends about a second after its work, and a notification area
  // that does not answer must not hold it for half a minute.
  static constexpr std::uint32_t kRetryBudgetMs = 1000;

  // Creates the component's hidden window. `Active` takes effect when Loaded
  // runs. The budget bounds the pauses of all retries together.
  TrayIcon(TrayApplication& application, platform::NotificationArea& notificationArea,
           std::uint32_t retryBudgetMs = kRetryBudgetMs);
  ~TrayIcon() override;

  bool Active() const { return active_; }
  void SetActive(bool active);
  TrayVisibilities Visibility() const { return visibility_; }
  void SetVisibility(TrayVisibilities visibility) { visibility_ = visibility; }
  TrayIconStates State() const { return state_; }

  // The load step: runs once, after every setting has been made.
  void Loaded();

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool ApplicationMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  void Activate();
  void Deactivate();
  bool ApplicationCountsAsVisible() const;
  // Hides the application window without the minimise animation.
  void HideApplication();
  void AddIcon();
  void RemoveIcon();
  // One call of the notification area, with the retry rule for a failure;
  // true when it took effect.
  bool Notify(platform::NotifyAction action);
  bool MayRetry(std::uint32_t error, int attempt) const;
  // One call without retries.
  bool Succeeds(platform::NotifyAction action);

  TrayApplication& application_;
  platform::NotificationArea& area_;
  const UINT taskbar_created_;
  bool loading_ = true;
  bool active_ = false;
  TrayVisibilities visibility_;
  TrayIconStates state_;
  HICON current_icon_ = nullptr;
  bool set_version_ = false;
  platform::NotifyIconRecord record_;
  std::uint32_t retry_budget_ms_;
};

}  // namespace zyp::app
