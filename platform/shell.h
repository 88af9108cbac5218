#pragma once
// Starting another program through the shell.
#include <string>

#include "platform/window_handle.h"

namespace zyp::platform {

class Shell {
 public:
  virtual ~Shell() = default;
  // ShellExecuteW: starts the program and returns without waiting for it;
  // true when the shell reported success.
  virtual bool Execute(WindowHandle owner, const std::u16string& verb, const std::u16string& file,
                       const std::u16string& parameters, const std::u16string& directory, int showCommand) = 0;
};

}  // namespace zyp::platform
