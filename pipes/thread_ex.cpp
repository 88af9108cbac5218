#include "pipes/thread_ex.h"

#include <process.h>

#include <stdexcept>
#include <utility>

#include "platform/win32/check.h"

namespace zyp::pipes {

ThreadEx::~ThreadEx() = default;

void ThreadEx::Run(int priority) {
  if (handle_) throw std::logic_error("the thread runs already");
  // The thread's own reference, handed over once the thread exists.
  auto self = std::make_unique<std::shared_ptr<ThreadEx>>(shared_from_this());
  const auto handle = ::_beginthreadex(nullptr, 0, &ThreadEx::ThreadRoutine, self.get(), 0, nullptr);
  win32::ThrowLastErrorIf(handle == 0, "_beginthreadex");
  self.release();
  handle_.Reset(reinterpret_cast<HANDLE>(handle));
  // A hint only: a thread left at normal priority does the same work.
  ::SetThreadPriority(handle_.Get(), priority);
}

bool ThreadEx::Ended() const {
  // A handle that cannot be waited for belongs to no running thread.
  return ::WaitForSingleObject(handle_.Get(), 0) != WAIT_TIMEOUT;
}

std::exception_ptr ThreadEx::TakeFatalException() { return std::exchange(fatal_exception_, nullptr); }

unsigned __stdcall ThreadEx::ThreadRoutine(void* parameter) {
  // Let go when the routine returns; the object may go with it, on this
  // thread.
  const std::unique_ptr<std::shared_ptr<ThreadEx>> self(static_cast<std::shared_ptr<ThreadEx>*>(parameter));
  try {
    (*self)->Execute();
  } catch (...) {
    (*self)->fatal_exception_ = std::current_exception();
  }
  return 0;
}

}  // namespace zyp::pipes
