#pragma once
// Runs a clean-up step when the scope ends, whichever way it ends, unless it
// was dismissed. The one shape for clean-up that no owner type covers.
#include <utility>

namespace zyp {

template <typename Step>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(Step step) : step_(std::move(step)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (armed_) step_();
  }

  // The work succeeded: the step is not needed.
  void Dismiss() noexcept { armed_ = false; }

 private:
  Step step_;
  bool armed_ = true;
};

}  // namespace zyp
