#pragma once
// Window lookup and messages between programs, and the program's own two
// hidden windows (the main window and the application window). A failed
// call throws PlatformError naming it.
#include <cstdint>
#include <string>

#include "platform/window_handle.h"

namespace zyp::platform {

class Windowing {
 public:
  virtual ~Windowing() = default;
  // RegisterWindowMessageW: the same number for every program that asks.
  // Fails when the system's table of names is full.
  virtual std::uint32_t RegisterMessage(const std::u16string& name) = 0;
  // FindWindowW with a class name and no title: a top-level window, or 0.
  virtual WindowHandle FindTopLevelWindow(const std::u16string& className) = 0;
  // PostMessageW: queues the message and returns at once. Refused with
  // ERROR_ACCESS_DENIED when the window belongs to an elevated program.
  virtual void Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // The main window's handle, created on first request.
  virtual WindowHandle MainWindow() = 0;
  // Moves the main window without showing it (SetWindowPos).
  virtual void MoveMainWindow(int left, int top) = 0;
  // The hidden application window: owner of the programs that are started.
  virtual WindowHandle ApplicationWindow() = 0;
};

}  // namespace zyp::platform
