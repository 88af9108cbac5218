#pragma once
// Starting companions through the shell, or with CreateProcessW past a job
// object that lets this program's children break away.
#include "platform/shell.h"

namespace zyp::win32 {

class SystemShell final : public platform::Shell {
 public:
  platform::StartedProgram Execute(platform::WindowHandle owner, const std::u16string& verb, const std::u16string& file,
                                   const std::u16string& parameters, const std::u16string& directory,
                                   int showCommand) override;
};

}  // namespace zyp::win32
