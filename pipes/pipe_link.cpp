#include "pipes/pipe_link.h"

#include "platform/win32/check.h"

namespace zyp::pipes {

PipeLink::PipeLink() : kill(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  win32::ThrowLastErrorIf(!kill, "CreateEventW");
}

}  // namespace zyp::pipes
