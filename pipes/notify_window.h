#pragma once
// Hidden "ObjWndWindow" windows through which an object on one thread
// receives messages from other threads: each window hands its messages to
// the method given when it was made.
#include <windows.h>

#include <functional>

#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

// One message as the owner's method sees it; Result is what the window
// procedure returns (0 unless the method sets it).
struct MessageRecord {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

using TMessageMethod = std::function<void(MessageRecord& message)>;

// Makes a notify window on the calling thread. With a method, every message
// of the window goes to it from the first one on; an exception that leaves
// the method is kept for whoever dispatched the message. Without one the
// window is a plain hidden window. Returns 0 when no window could be made.
HWND CreateNotifyWindow(TMessageMethod method = nullptr);
// Destroys the window and releases its routing. Call on the window's thread.
void DestroyNotifyWindow(HWND window) noexcept;

struct NotifyWindowTraits {
  using Type = HWND;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type window) { return window != nullptr; }
  static void Close(Type window) { DestroyNotifyWindow(window); }
};
using UniqueNotifyWindow = win32::Scoped<NotifyWindowTraits>;

}  // namespace zyp::pipes
