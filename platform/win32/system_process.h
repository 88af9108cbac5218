#pragma once
// The running process as Windows reports it.
#include <cstdint>

#include "platform/process.h"

namespace zyp::win32 {

class SystemProcess final : public platform::Process {
 public:
  // Room for a path of 260 characters and its terminating zero.
  static constexpr std::uint32_t kModulePathCapacity = 261;

  explicit SystemProcess(std::uint32_t modulePathCapacity = kModulePathCapacity)
      : modulePathCapacity_(modulePathCapacity) {}

  std::u16string CommandLine() override;
  std::u16string ModuleFileName() override;
  void Pause(std::uint32_t milliseconds) override;

 private:
  std::uint32_t modulePathCapacity_;
};

}  // namespace zyp::win32
