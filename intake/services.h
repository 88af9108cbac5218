#pragma once
// Everything a request reaches outside itself, handed to dispatch by the
// application: the platform's operations and the program's own components.
#include "intake/delivery.h"
#include "intake/queue_pipe.h"
#include "intake/trace.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/windowing.h"

namespace zyp::cookies {
class CookieStore;
}

namespace zyp::intake {

struct Services {
  platform::Process& process;
  platform::Windowing& windowing;
  platform::Shell& shell;
  platform::Files& files;
  platform::Locale& locale;
  platform::Registry& registry;
  cookies::CookieStore& cookies;
  QueuePipe& pipe;
  // Off unless ZYP_TRACE names a file.
  Trace& trace;
};

}  // namespace zyp::intake
