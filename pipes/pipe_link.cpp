#include "pipes/pipe_link.h"

#include "platform/win32/wide_text.h"

namespace zyp::pipes {

PipeLink::PipeLink() : kill(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!kill) throw win32::LastPlatformError();
}

}  // namespace zyp::pipes
