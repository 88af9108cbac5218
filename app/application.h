#pragma once
// The application object: the program's title, its hidden application window
// (a tool window, so the process never has a taskbar button), the message
// loop and the error report.
#include <windows.h>

#include <exception>
#include <string>

#include "platform/win32/message_window.h"

namespace zyp::app {

class Application final : public win32::MessageWindow {
 public:
  Application();

  const std::u16string& Title() const { return title_; }
  // Runs until WM_QUIT; returns its exit code.
  int Run();
  // Shows an error that stopped an action: a message box owned by the
  // process's active window, or else the application window.
  void ReportError(std::exception_ptr error);

 private:
  std::u16string title_;
};

}  // namespace zyp::app
