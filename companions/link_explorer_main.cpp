// ZYPLinkExplorer stand-in: journals the command line it was started with
// and ends.
#include <windows.h>

#include "companions/command_line_record.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    zyp::companions::Journal journal;
    zyp::companions::JournalStart(journal, zyp::companions::RawCommandLine());
    return 0;
  } catch (...) {
    return 1;
  }
}
