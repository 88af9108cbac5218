#include "companions/manager_window.h"

#include "intake/fixed_texts.h"
#include "platform/win32/wide_text.h"

namespace zyp::companions {

namespace {
constexpr UINT_PTR kIdleTimer = 1;
constexpr UINT kIdleCheckMs = 100;
}  // namespace

TfrmZYPQueueManager::TfrmZYPQueueManager(Journal& journal, ActivityClock& activity, std::uint32_t idleMs,
                                         bool queueStarted)
    : journal_(journal), activity_(activity), idleMs_(idleMs), queueStarted_(queueStarted) {
  progressMessage_ = ::RegisterWindowMessageW(win32::Wide(std::u16string(intake::kProgressMessageName)));
  const std::u16string className(intake::kManagerWindowClass);
  try {
    Create(win32::Wide(className), 0, WS_OVERLAPPEDWINDOW, L"ZYP Queue Manager", CW_USEDEFAULT, CW_USEDEFAULT, 400,
           300);
  } catch (const PlatformError& error) {
    creationError_ = error.Code();
    return;
  }
  // Fails only without a window, and this one exists.
  ::SetTimer(Handle(), kIdleTimer, kIdleCheckMs, nullptr);
  // A manager that runs elevated would otherwise never see the control
  // message of a program that runs with the user's normal rights. Where the
  // system filters no messages, there is nothing to let through.
  ::ChangeWindowMessageFilterEx(Handle(), progressMessage_, MSGFLT_ALLOW, nullptr);
}

TfrmZYPQueueManager::~TfrmZYPQueueManager() {
  if (Handle() != nullptr) ::KillTimer(Handle(), kIdleTimer);
}

void TfrmZYPQueueManager::Quit(std::u16string reason) {
  if (!exitReason_.empty()) return;
  exitReason_ = std::move(reason);
  // A timer that is gone already needs no stopping.
  ::KillTimer(Handle(), kIdleTimer);
  ::PostQuitMessage(0);
}

LRESULT TfrmZYPQueueManager::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (progressMessage_ != 0 && message == progressMessage_) {
    activity_.Touch();
    // Only wParam 101 with lParam 1 or 0 means anything; the rest is
    // journaled so that a test sees it arrived.
    if (wParam == intake::kProgressWParam && (lParam == intake::kProgressStart || lParam == intake::kProgressStop))
      queueStarted_ = lParam == intake::kProgressStart;
    journal_.Write(JournalEntry("progress")
                       .Number("wparam", static_cast<std::int64_t>(wParam))
                       .Number("lparam", static_cast<std::int64_t>(lParam))
                       .Text("queue", queueStarted_ ? u"started" : u"stopped"));
    return 0;
  }
  switch (message) {
    case WM_TIMER:
      if (wParam == kIdleTimer && activity_.IdleMs() >= idleMs_) Quit(u"idle");
      return 0;
    case WM_CLOSE:
      Quit(u"close");
      return 0;
    default:
      return MessageWindow::HandleMessage(message, wParam, lParam);
  }
}

}  // namespace zyp::companions
