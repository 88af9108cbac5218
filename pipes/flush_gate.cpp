#include "pipes/flush_gate.h"

#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

void FlushGate::Open() {
  win32::SrwExclusiveLock lock(lock_);
  stopped_ = false;
  cancelled_ = false;
  flushing_ = nullptr;
}

bool FlushGate::Flush(HANDLE pipe) {
  {
    win32::SrwExclusiveLock lock(lock_);
    if (stopped_) return false;
    flushing_ = pipe;
  }
  const BOOL flushed = ::FlushFileBuffers(pipe);
  win32::SrwExclusiveLock lock(lock_);
  flushing_ = nullptr;
  return flushed != FALSE && !cancelled_;
}

void FlushGate::Stop() {
  win32::SrwExclusiveLock lock(lock_);
  stopped_ = true;
  if (flushing_ == nullptr) return;
  // No call cancels a flush alone: this ends the pending read as well. It
  // fails only when nothing is under way any more, which is what it wants.
  ::CancelIoEx(flushing_, nullptr);
  cancelled_ = true;
}

bool FlushGate::Cancelled() {
  win32::SrwExclusiveLock lock(lock_);
  return cancelled_;
}

}  // namespace zyp::pipes
