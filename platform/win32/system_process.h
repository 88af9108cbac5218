#pragma once
// The running process as Windows reports it.
#include "platform/process.h"

namespace zyp::win32 {

class SystemProcess final : public platform::Process {
 public:
  std::u16string CommandLine() override;
  std::u16string ModuleFileName() override;
  void Pause(std::uint32_t milliseconds) override;
};

}  // namespace zyp::win32
