#include "pipes/thread_end_watch.h"

#include "platform/win32/check.h"

namespace zyp::pipes {

void ThreadEndWatch::Start(HANDLE thread, HWND window, UINT message) {
  Stop();
  window_ = window;
  message_ = message;
  HANDLE registration = nullptr;
  // Run in the wait thread itself: the callback only posts.
  win32::ThrowIfWin32BoolFalse(::RegisterWaitForSingleObject(&registration, thread, &ThreadEndWatch::Ended, this,
                                                             INFINITE, WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD),
                               "RegisterWaitForSingleObject");
  registration_.Reset(registration);
}

void CALLBACK ThreadEndWatch::Ended(void* context, BOOLEAN) {
  const auto* self = static_cast<const ThreadEndWatch*>(context);
  // A post that fails (the owner's queue is full) loses nothing: the owner
  // looks whether its thread has ended whenever it is used.
  ::PostMessageW(self->window_, self->message_, 0, 0);
}

}  // namespace zyp::pipes
