#include "pipes/pipe_module.h"

#include <atomic>
#include <stdexcept>

namespace zyp::pipes {

namespace {
std::atomic<PipeModule*> g_module{nullptr};
win32::CriticalSection* g_lock = nullptr;
}  // namespace

PipeModule::PipeModule() {
  PipeModule* none = nullptr;
  if (!g_module.compare_exchange_strong(none, this)) throw std::logic_error("the pipe module is already running");
  g_lock = &lock_;
}

PipeModule::~PipeModule() {
  g_lock = nullptr;
  g_module.store(nullptr);
}

win32::CriticalSection& PipeModuleLock() {
  if (g_module.load() == nullptr) throw std::logic_error("the pipe module is not running");
  return *g_lock;
}

}  // namespace zyp::pipes
