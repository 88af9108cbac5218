#pragma once
// The trace file that the environment variable ZYP_TRACE names, opened for
// appending, and the system's clocks.
#include <memory>
#include <string>

#include "platform/trace_output.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::win32 {

class SystemTraceOutput final : public platform::TraceOutput {
 public:
  // Null when the variable is missing or empty, or when what it names cannot
  // be opened or created as a file on a disk: a device or a pipe could hold
  // the run, and a trace must never change what the run does.
  static std::unique_ptr<SystemTraceOutput> FromEnvironment(const wchar_t* variable = L"ZYP_TRACE");
  static std::unique_ptr<SystemTraceOutput> Open(const std::wstring& path);

  void Append(std::string_view bytes) override;
  std::string UtcTime() override;
  std::uint64_t MonotonicMs() override;
  std::uint32_t ProcessId() override;

 private:
  explicit SystemTraceOutput(UniqueHandle file) : file_(std::move(file)) {}

  UniqueHandle file_;
};

}  // namespace zyp::win32
