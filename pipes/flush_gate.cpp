#include "pipes/flush_gate.h"

namespace zyp::pipes {

namespace {

class GateLock {
 public:
  explicit GateLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~GateLock() { ::ReleaseSRWLockExclusive(&lock_); }
  GateLock(const GateLock&) = delete;
  GateLock& operator=(const GateLock&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace

void FlushGate::Open() {
  GateLock lock(lock_);
  stopped_ = false;
  cancelled_ = false;
  flushing_ = nullptr;
}

bool FlushGate::Flush(HANDLE pipe) {
  {
    GateLock lock(lock_);
    if (stopped_) return false;
    flushing_ = pipe;
  }
  const BOOL flushed = ::FlushFileBuffers(pipe);
  GateLock lock(lock_);
  flushing_ = nullptr;
  return flushed != FALSE && !cancelled_;
}

bool FlushGate::Stop() {
  GateLock lock(lock_);
  stopped_ = true;
  if (flushing_ == nullptr) return true;
  // No call cancels a flush alone: this ends the pending read as well.
  ::CancelIoEx(flushing_, nullptr);
  cancelled_ = true;
  return false;
}

bool FlushGate::Cancelled() {
  GateLock lock(lock_);
  return cancelled_;
}

}  // namespace zyp::pipes
