#include "platform/win32/system_windowing.h"

#include "platform/win32/check.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {

namespace {
HWND ToHwnd(platform::WindowHandle window) { return reinterpret_cast<HWND>(window); }
platform::WindowHandle FromHwnd(HWND window) { return reinterpret_cast<platform::WindowHandle>(window); }
}  // namespace

std::uint32_t SystemWindowing::RegisterMessage(const std::u16string& name) {
  const UINT message = ::RegisterWindowMessageW(Wide(name));
  ThrowLastErrorIf(message == 0, "RegisterWindowMessageW");
  return message;
}

platform::WindowHandle SystemWindowing::FindTopLevelWindow(const std::u16string& className) {
  return FromHwnd(::FindWindowW(Wide(className), nullptr));
}

void SystemWindowing::Post(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
  ThrowIfWin32BoolFalse(::PostMessageW(ToHwnd(window), message, wParam, lParam), "PostMessageW");
}

platform::WindowHandle SystemWindowing::MainWindow() { return FromHwnd(main_); }

void SystemWindowing::MoveMainWindow(int left, int top) {
  ThrowIfWin32BoolFalse(::SetWindowPos(main_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE),
                        "SetWindowPos");
}

platform::WindowHandle SystemWindowing::ApplicationWindow() { return FromHwnd(application_); }

}  // namespace zyp::win32
