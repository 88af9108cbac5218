#pragma once
// A trace for integrators who need to see what the program received and did:
// one JSON line per step, appended to the file that ZYP_TRACE names. It never
// holds a cookie value (see trace_masking.h), its size per run is bounded,
// and without a file it costs a test of one pointer per step.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/trace_output.h"

namespace zyp::intake {

// One line under construction: {"t_ms":..,"time":..,"pid":..,"step":.., ...}.
class TraceLine {
 public:
  // Texts longer than this many code units are cut and end in "…[+n]".
  static constexpr std::size_t kTextLimitUnits = 4096;
  // A line that reaches this size takes no more fields.
  static constexpr std::size_t kLineLimitBytes = 64 * 1024;

  explicit TraceLine(std::string prefix) : json_(std::move(prefix)) {}

  TraceLine& Text(std::string_view key, std::u16string_view value);
  // At most as many items as the line has room for; "…[+n]" stands for the rest.
  TraceLine& Texts(std::string_view key, const std::vector<std::u16string>& values);
  // Text of ASCII characters only, such as a fixed word of ours.
  TraceLine& Word(std::string_view key, std::string_view value);
  TraceLine& Number(std::string_view key, std::int64_t value);
  TraceLine& Flag(std::string_view key, bool value);

  // The line with its closing brace and line break.
  std::string Finish() &&;

 private:
  bool Key(std::string_view key);
  void Quoted(std::u16string_view value, std::size_t limit);

  std::string json_;
};

class Trace {
 public:
  // A run writes at most this much; the last few kilobytes are kept for the
  // line that says the limit was reached and for the exit line.
  static constexpr std::size_t kRunLimitBytes = 1024 * 1024;
  static constexpr std::size_t kExitReserveBytes = 4096;

  // Writes nothing.
  Trace() = default;
  explicit Trace(platform::TraceOutput& output);
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  bool On() const { return output_ != nullptr; }

  // Writes one line for the step; fill adds its fields. Without an output,
  // fill is never called.
  template <typename Fill>
  void Step(std::string_view step, Fill&& fill) {
    if (output_ == nullptr) return;
    TraceLine line = Begin(step);
    fill(line);
    End(std::move(line).Finish(), false);
  }
  void Step(std::string_view step) {
    Step(step, [](TraceLine&) {});
  }

  // Why the request may not have been delivered, as far as a step could
  // tell; the exit line repeats the latest one.
  void NoteCause(std::string_view cause);

  // The last line: the exit code, what it means, and the noted cause when
  // the request was not delivered.
  void Exit(int exitCode);

 private:
  TraceLine Begin(std::string_view step);
  void End(std::string line, bool last);

  platform::TraceOutput* output_ = nullptr;
  std::uint64_t startMs_ = 0;
  std::size_t written_ = 0;
  bool full_ = false;
  std::string cause_;
};

// What an exit code tells the caller, in a few words.
std::string_view ExitReason(int exitCode);

}  // namespace zyp::intake
