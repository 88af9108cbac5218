#pragma once
// The pipe module's process-wide state: the lock under which notify windows
// are made, so that clients on several threads may make their window class
// at once. The application creates one PipeModule at start-up; it ends after
// every pipe client is gone.
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
