#pragma once
// Everything a request reaches outside itself, handed to dispatch by the
// application: the platform's operations and the program's own components.
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/windowing.h"

namespace zyp::intake {

struct Services {
  platform::Process& process;
  platform::Windowing& windowing;
  platform::Shell& shell;
};

}  // namespace zyp::intake
