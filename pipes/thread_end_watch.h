#pragma once
// Hears of a thread's end on its owner's thread, in the manner of an object
// watcher: the thread pool watches the thread's handle and posts a message
// to the owner's window; the owner, handling it, stops the watch and clears
// its own state before it acts, since acting may start a new watch or end
// the owner.
#include <windows.h>

#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

class ThreadEndWatch {
 public:
  ThreadEndWatch() = default;
  ThreadEndWatch(const ThreadEndWatch&) = delete;
  ThreadEndWatch& operator=(const ThreadEndWatch&) = delete;

  // Posts message, with no parameters, to window once thread has ended. The
  // handle and the window stay valid until Stop. Raises the platform error
  // when the watch cannot be made.
  void Start(HANDLE thread, HWND window, UINT message);
  // Returns once no post can come any more; one already made may still wait
  // in the window's queue. Never call it from the thread pool's callback.
  void Stop() { registration_.Reset(); }

 private:
  static void CALLBACK Ended(void* context, BOOLEAN timedOut);

  HWND window_ = nullptr;
  UINT message_ = 0;
  // Last, so that it goes first: the callback reads the two above.
  win32::UniqueWaitRegistration registration_;
};

}  // namespace zyp::pipes
