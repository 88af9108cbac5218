#pragma once
// The system's notification area and the minimise animation setting, as the
// tray icon component reaches them. Every call goes through here, so a test
// can watch exactly what the component asked of the system.
#include <cstdint>
#include <string>

#include "platform/window_handle.h"

namespace zyp::platform {

// The Shell_NotifyIconW actions, with the system's values.
enum class NotifyAction : std::uint32_t { kAdd = 0, kModify = 1, kDelete = 2, kSetVersion = 4 };

// The NIF_* flags that say which fields of a record are meant, with the
// system's values.
inline constexpr std::uint32_t kNotifyMessage = 0x1;
inline constexpr std::uint32_t kNotifyIcon = 0x2;
inline constexpr std::uint32_t kNotifyTip = 0x4;

// One icon's notification record as plain data.
struct NotifyIconRecord {
  WindowHandle window = 0;  // receives the icon's messages
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t callbackMessage = 0;
  std::uintptr_t icon = 0;  // an icon handle
  std::u16string tip;
  std::uint32_t version = 0;  // the behaviour asked for by kSetVersion
};

class NotificationArea {
 public:
  virtual ~NotificationArea() = default;
  // Shell_NotifyIconW. A refused call throws PlatformError with the thread's
  // last error after it, which may be 0: the shell often sets none.
  virtual void Notify(NotifyAction action, const NotifyIconRecord& record) = 0;
  // Whether the shell's notification area exists at all (its taskbar window).
  virtual bool Present() = 0;
  // The shell library's major version; 0 when the library does not say.
  virtual std::uint32_t ShellMajorVersion() = 0;
  // SPI_GETANIMATION: whether windows animate when they are minimised and
  // restored. Throws PlatformError, as SetAnimation does, when the call fails.
  virtual bool AnimationOn() = 0;
  // SPI_SETANIMATION for this session only: the user's profile keeps its value.
  virtual void SetAnimation(bool on) = 0;
  // Blocks the calling thread between two attempts of a failed call.
  virtual void Pause(std::uint32_t milliseconds) = 0;
};

}  // namespace zyp::platform
