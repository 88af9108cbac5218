#pragma once
// Window lookup and posting through User32, for a program whose main and
// application windows already exist.
#include <windows.h>

#include "platform/windowing.h"

namespace zyp::win32 {

class SystemWindowing final : public platform::Windowing {
 public:
  SystemWindowing(HWND applicationWindow, HWND mainWindow) : application_(applicationWindow), main_(mainWindow) {}

  std::uint32_t RegisterMessage(const std::u16string& name) override;
  platform::WindowHandle FindTopLevelWindow(const std::u16string& className) override;
  void Post(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  platform::WindowHandle MainWindow() override;
  void MoveMainWindow(int left, int top) override;
  platform::WindowHandle ApplicationWindow() override;

 private:
  HWND application_;
  HWND main_;
};

}  // namespace zyp::win32
