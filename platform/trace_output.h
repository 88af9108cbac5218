#pragma once
// Where a run's trace goes, and the clocks that date its lines.
#include <cstdint>
#include <string>
#include <string_view>

namespace zyp::platform {

class TraceOutput {
 public:
  virtual ~TraceOutput() = default;
  // Appends the bytes with one write at the end of the file, so that runs
  // writing to the same file at once keep their lines whole. A failure is
  // ignored, and the thread's last error is left as it was.
  virtual void Append(std::string_view bytes) = 0;
  // The wall-clock time, UTC, as "2026-12-10T13:44:46.123Z".
  virtual std::string UtcTime() = 0;
  // Milliseconds on a clock that only moves forward.
  virtual std::uint64_t MonotonicMs() = 0;
  virtual std::uint32_t ProcessId() = 0;
};

}  // namespace zyp::platform
