#pragma once
// Runs a program to its end through CreateProcessW.
#include "platform/child_programs.h"

namespace zyp::win32 {

class SystemChildPrograms final : public platform::ChildPrograms {
 public:
  std::uint32_t RunToEnd(const std::u16string& program, const std::u16string& arguments,
                         std::uint32_t limitMs) override;
};

}  // namespace zyp::win32
