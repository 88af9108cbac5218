#include "pipes/thread_ex.h"

#include <process.h>

#include <stdexcept>
#include <utility>

#include "platform/win32/check.h"

namespace zyp::pipes {

ThreadEx::~ThreadEx() = default;

void ThreadEx::Run(int priority, EndNotice endNotice) {
  if (handle_) throw std::logic_error("the thread runs already");
  priority_ = priority;
  end_notice_ = endNotice;
  // The thread's own reference, its own once the thread exists.
  auto self = std::make_unique<std::shared_ptr<ThreadEx>>(shared_from_this());
  const auto handle = ::_beginthreadex(nullptr, 0, &ThreadEx::ThreadRoutine, self.get(), 0, nullptr);
  win32::ThrowLastErrorIf(handle == 0, "_beginthreadex");
  static_cast<void>(self.release());
  handle_.Reset(reinterpret_cast<HANDLE>(handle));
}

bool ThreadEx::Ended() const {
  // A handle that cannot be waited for belongs to no running thread.
  return finished_.load(std::memory_order_acquire) || ::WaitForSingleObject(handle_.Get(), 0) != WAIT_TIMEOUT;
}

std::exception_ptr ThreadEx::TakeFatalException() { return std::exchange(fatal_exception_, nullptr); }

unsigned __stdcall ThreadEx::ThreadRoutine(void* parameter) {
  // Let go when the routine returns; the object may go with it, on this
  // thread.
  const std::unique_ptr<std::shared_ptr<ThreadEx>> self(static_cast<std::shared_ptr<ThreadEx>*>(parameter));
  ThreadEx& thread = **self;
  // First, so that none of the work runs at another priority. A hint only:
  // a thread left at normal priority does the same work.
  ::SetThreadPriority(::GetCurrentThread(), thread.priority_);
  try {
    thread.Execute();
  } catch (...) {
    thread.fatal_exception_ = std::current_exception();
  }
  thread.finished_.store(true, std::memory_order_release);
  // A post that fails (the owner's queue is full, its window gone) loses
  // nothing: the owner looks at Ended whenever it is used.
  if (thread.end_notice_.window != nullptr) ::PostMessageW(thread.end_notice_.window, thread.end_notice_.message, 0, 0);
  return 0;
}

}  // namespace zyp::pipes
