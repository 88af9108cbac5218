#include "platform/win32/system_notification_area.h"

#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>

#include "platform/win32/check.h"

namespace zyp::win32 {

static_assert(static_cast<DWORD>(platform::NotifyAction::kAdd) == NIM_ADD);
static_assert(static_cast<DWORD>(platform::NotifyAction::kModify) == NIM_MODIFY);
static_assert(static_cast<DWORD>(platform::NotifyAction::kDelete) == NIM_DELETE);
static_assert(static_cast<DWORD>(platform::NotifyAction::kSetVersion) == NIM_SETVERSION);
static_assert(platform::kNotifyMessage == NIF_MESSAGE && platform::kNotifyIcon == NIF_ICON &&
              platform::kNotifyTip == NIF_TIP);

void SystemNotificationArea::Notify(platform::NotifyAction action, const platform::NotifyIconRecord& record) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = reinterpret_cast<HWND>(record.window);
  data.uID = record.id;
  data.uFlags = record.flags;
  data.uCallbackMessage = record.callbackMessage;
  data.hIcon = reinterpret_cast<HICON>(record.icon);
  const std::size_t tipLength = std::min(record.tip.size(), std::size(data.szTip) - 1);
  std::copy_n(record.tip.begin(), tipLength, data.szTip);
  data.uVersion = record.version;
  // The shell often fails without a last error of its own: 0 then says so.
  ::SetLastError(0);
  ThrowIfWin32BoolFalse(::Shell_NotifyIconW(static_cast<DWORD>(action), &data), "Shell_NotifyIconW");
}

bool SystemNotificationArea::Present() { return ::FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }

std::uint32_t SystemNotificationArea::ShellMajorVersion() {
  // The shell library is loaded already: the program links it.
  const HMODULE shell = ::GetModuleHandleW(L"shell32.dll");
  if (shell == nullptr) return 0;
  const auto getVersion =
      reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void (*)()>(::GetProcAddress(shell, "DllGetVersion")));
  if (getVersion == nullptr) return 0;
  DLLVERSIONINFO info{};
  info.cbSize = sizeof(info);
  return SUCCEEDED(getVersion(&info)) ? info.dwMajorVersion : 0;
}

bool SystemNotificationArea::AnimationOn() {
  ANIMATIONINFO info{};
  info.cbSize = sizeof(info);
  ThrowIfWin32BoolFalse(::SystemParametersInfoW(SPI_GETANIMATION, sizeof(info), &info, 0), "SystemParametersInfoW");
  return info.iMinAnimate != 0;
}

void SystemNotificationArea::SetAnimation(bool on) {
  ANIMATIONINFO info{};
  info.cbSize = sizeof(info);
  info.iMinAnimate = on ? 1 : 0;
  ThrowIfWin32BoolFalse(::SystemParametersInfoW(SPI_SETANIMATION, sizeof(info), &info, 0), "SystemParametersInfoW");
}

void SystemNotificationArea::Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace zyp::win32
