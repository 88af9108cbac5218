#pragma once
// A trace file in memory, with a clock that moves only when told.
#include <cstdint>
#include <string>

#include "platform/trace_output.h"

namespace zyp::fakes {

class FakeTraceOutput : public platform::TraceOutput {
 public:
  std::string text;
  std::uint64_t nowMs = 1000;
  int appends = 0;

  void Append(std::string_view bytes) override {
    ++appends;
    text += bytes;
  }
  std::string UtcTime() override { return "2026-12-10T13:44:46.123Z"; }
  std::uint64_t MonotonicMs() override { return nowMs; }
  std::uint32_t ProcessId() override { return 4711; }
};

}  // namespace zyp::fakes
