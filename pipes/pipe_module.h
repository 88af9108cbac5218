#pragma once
// The pipe module's process-wide state: the lock that guards the creation of
// notify windows and of the sync manager. The application creates one
// PipeModule at start-up; its end disposes of the sync manager's windows and
// then of the lock, after every pipe client and worker is gone.
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

class PipeModule {
 public:
  // Raises std::logic_error when a module is already running.
  PipeModule();
  ~PipeModule();
  PipeModule(const PipeModule&) = delete;
  PipeModule& operator=(const PipeModule&) = delete;

 private:
  win32::CriticalSection lock_;
};

// The running module's lock. Raises std::logic_error when no module runs.
win32::CriticalSection& PipeModuleLock();

}  // namespace zyp::pipes
