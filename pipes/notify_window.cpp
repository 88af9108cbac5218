#include "pipes/notify_window.h"

#include "pipes/pipe_module.h"

namespace zyp::pipes {

NotifyWindow::NotifyWindow(MessageMethod method) : method_(std::move(method)) {
  {
    // Clients on several threads may make the class at once.
    win32::CriticalSectionLock lock(PipeModuleLock());
    // A failure shows as a null Handle(), which the owner's users meet as
    // a pipe that never connects or reports.
    static_cast<void>(Create(kNotifyWindowClass, 0, WS_POPUP, L"", 0, 0, 0, 0));
  }
  routing_ = static_cast<bool>(method_);
}

NotifyWindow::~NotifyWindow() {
  // The owner is going: the window's last messages are not for it.
  routing_ = false;
  Destroy();
}

LRESULT NotifyWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!routing_) return MessageWindow::HandleMessage(message, wParam, lParam);
  MessageRecord record{message, wParam, lParam, 0};
  // The method may destroy this window and its owner: nothing of either is
  // touched after it returns.
  method_(record);
  return record.result;
}

}  // namespace zyp::pipes
