#pragma once
// The stand-in queue manager's main window: hidden, top-level (so that
// FindWindowW finds it by class), and the target of the control message
// that starts and stops the queue. It ends the program on WM_CLOSE or once
// the manager has been idle for long enough.
#include <windows.h>

#include <cstdint>
#include <string>

#include "companions/activity_clock.h"
#include "companions/journal.h"
#include "platform/win32/message_window.h"

namespace zyp::companions {

class TfrmZYPQueueManager final : public win32::MessageWindow {
 public:
  TfrmZYPQueueManager(Journal& journal, ActivityClock& activity, std::uint32_t idleMs, bool queueStarted);
  ~TfrmZYPQueueManager() override;

  bool Created() const { return Handle() != nullptr; }
  // The system's error code when the window could not be created.
  std::uint32_t CreationError() const { return creationError_; }
  bool QueueStarted() const { return queueStarted_; }
  // Why the message loop ended: "close" or "idle".
  const std::u16string& ExitReason() const { return exitReason_; }

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void Quit(std::u16string reason);

  Journal& journal_;
  ActivityClock& activity_;
  const std::uint32_t idleMs_;
  bool queueStarted_;
  UINT progressMessage_ = 0;
  std::uint32_t creationError_ = 0;
  std::u16string exitReason_;
};

}  // namespace zyp::companions
