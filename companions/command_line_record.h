#pragma once
// The start event that every companion journals first: its raw command line
// and the arguments as the program's own splitting rule cuts them.
#include "companions/journal.h"
#include "intake/command_line.h"

namespace zyp::companions {

intake::CommandLine RawCommandLine();

void JournalStart(Journal& journal, const intake::CommandLine& commandLine);

}  // namespace zyp::companions
