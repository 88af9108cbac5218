#include "pipes/thread_sync.h"

#include <optional>

#include "platform/scope_exit.h"
#include "platform/win32/message_window.h"

namespace zyp::pipes {

namespace {

// Another program may post to our windows faster than we take the messages
// in: a pump hands control back after this many, so that the waits that pump
// still see their own ends.
constexpr int kMaxPumpedMessages = 1000;

// Takes every waiting message; stops early at a quit request, whose exit
// code it keeps, so that the caller can leave it for the message loop.
void PumpInto(std::optional<WPARAM>& quit) {
  MSG msg;
  for (int pumped = 0; pumped < kMaxPumpedMessages && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++pumped) {
    if (msg.message == WM_QUIT) {
      quit = msg.wParam;
      break;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    win32::RethrowDispatchError();
    ::Sleep(0);
  }
  // Messages sent from other threads run inside PeekMessageW.
  win32::RethrowDispatchError();
}

// Leaves a quit request taken during a pump in the queue again, however the
// pump ends.
auto KeepQuit(std::optional<WPARAM>& quit) {
  return ScopeExit([&quit] {
    if (quit) ::PostQuitMessage(static_cast<int>(*quit));
  });
}

}  // namespace

void PumpMessages() {
  std::optional<WPARAM> quit;
  const auto keepQuit = KeepQuit(quit);
  PumpInto(quit);
}

bool WaitForThread(HANDLE thread, DWORD timeoutMs) {
  std::optional<WPARAM> quit;
  const auto keepQuit = KeepQuit(quit);
  const DWORD start = ::GetTickCount();
  for (;;) {
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      const DWORD elapsed = ::GetTickCount() - start;
      // Checked before waiting: waiting input would end every wait at once.
      if (elapsed >= timeoutMs) return ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
      wait = timeoutMs - elapsed;
    }
    const DWORD result = ::MsgWaitForMultipleObjectsEx(1, &thread, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0) return true;
    // A failed wait (a handle that is no thread) counts as ended: waiting
    // again would fail again.
    if (result != WAIT_OBJECT_0 + 1) return result != WAIT_TIMEOUT;
    PumpInto(quit);
    if (::WaitForSingleObject(thread, 0) != WAIT_TIMEOUT) return true;
  }
}

}  // namespace zyp::pipes
