#pragma once
// When the stand-in queue manager last had something to do; it ends itself
// once it has been idle for long enough.
#include <windows.h>

#include <atomic>
#include <cstdint>

namespace zyp::companions {

class ActivityClock {
 public:
  ActivityClock() { Touch(); }
  void Touch() { last_.store(::GetTickCount64()); }
  std::uint64_t IdleMs() const { return ::GetTickCount64() - last_.load(); }

 private:
  std::atomic<std::uint64_t> last_{0};
};

}  // namespace zyp::companions
