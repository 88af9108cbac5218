#pragma once
// The application object: the program's title and icon, its hidden
// application window (a tool window that never shows, so the process never
// has a taskbar button), the message loop and the error report.
#include <windows.h>

#include <exception>
#include <functional>
#include <string>

#include "app/ole_initialization.h"
#include "app/tray_icon.h"
#include "platform/win32/message_window.h"

namespace zyp::app {

class Application final : public win32::MessageWindow, public TrayApplication {
 public:
  Application();
  ~Application() override;

  const std::u16string& Title() const { return title_; }

  // Takes and dispatches messages until it is told to end or takes WM_QUIT.
  // An error that escapes the handling of a message is reported and the loop
  // goes on.
  void Run();
  // Ends the loop once the message being handled is done. Not a quit
  // message: that comes only when no posted message waits, so another
  // program posting without pause could keep the run alive, and one left
  // behind would close the next error box at once.
  void Terminate() { terminated_ = true; }

  // Shows an error in a message box with the application's title, owned by
  // the process's active window or else the application window. The abort
  // kind is not shown. True when a box was shown.
  bool ReportError(std::exception_ptr error);
  // Told the text of each error box just before it shows.
  std::function<void(const std::u16string& text)> onReport;
  // The system's MessageBoxW; a test may watch what the report asks of it.
  std::function<int(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type)> showMessageBox = ::MessageBoxW;

  // What the notification-area component needs of the application.
  HWND ApplicationWindow() override { return Handle(); }
  HICON ApplicationIcon() override { return icon_; }
  void WatchMessages(ApplicationMessageWatcher* watcher) override { watcher_ = watcher; }

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  OleInitialization ole_;
  HICON icon_;  // shared with the module: never destroyed
  std::u16string title_;
  ApplicationMessageWatcher* watcher_ = nullptr;
  bool terminated_ = false;
};

}  // namespace zyp::app
