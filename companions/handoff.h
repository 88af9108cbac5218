#pragma once
// What a second copy of the stand-in queue manager does instead of starting a
// second queue: it hands its command line to the running copy (a control
// word as the control message, anything else as an "ADDURL:" message on the
// pipe) and ends.
#include "companions/journal.h"
#include "intake/command_line.h"

namespace zyp::companions {

void HandOff(Journal& journal, const intake::CommandLine& commandLine);

}  // namespace zyp::companions
