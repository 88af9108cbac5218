#pragma once
// A thread object shared between its owner and its own thread: the thread
// holds a reference while it runs, so an owner that cannot wait for it may
// let go and the thread still ends on live memory, and one that keeps its
// reference may read the thread's handle and outcome for as long as it likes.
// Its end reaches the owner's thread as a message that the thread posts as
// its last act; the owner looks at Ended before it believes one.
#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>

#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

class ThreadEx : public std::enable_shared_from_this<ThreadEx> {
 public:
  ThreadEx(const ThreadEx&) = delete;
  ThreadEx& operator=(const ThreadEx&) = delete;
  virtual ~ThreadEx();

  // Where the thread's end is posted, with no parameters.
  struct EndNotice {
    HWND window;
    UINT message;
  };

  // Starts Execute on a new thread of the given priority; once only, on an
  // object owned by a shared_ptr. Raises the platform error when no thread
  // can be made.
  void Run(int priority = THREAD_PRIORITY_NORMAL, EndNotice endNotice = {});
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }

  // Valid from Run on, for as long as the object lives.
  HANDLE Handle() const { return handle_.Get(); }
  // Execute has returned, or the thread is gone.
  bool Ended() const;
  // Once Ended: the exception that left Execute, if any, taken once. The
  // thread reports it to no one else.
  std::exception_ptr TakeFatalException();

 protected:
  ThreadEx() = default;
  virtual void Execute() = 0;

 private:
  static unsigned __stdcall ThreadRoutine(void* parameter);

  win32::UniqueHandle handle_;
  int priority_ = THREAD_PRIORITY_NORMAL;
  EndNotice end_notice_{};
  std::atomic<bool> terminated_{false};
  // Set by the thread once the exception below is written.
  std::atomic<bool> finished_{false};
  std::exception_ptr fatal_exception_;
};

}  // namespace zyp::pipes
