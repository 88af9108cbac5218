#include "companions/command_line_record.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace zyp::companions {

namespace {
std::u16string RawText() {
  const wchar_t* line = ::GetCommandLineW();
  return line != nullptr ? win32::FromWide(line) : std::u16string();
}
}  // namespace

intake::CommandLine RawCommandLine() { return intake::CommandLine(RawText()); }

void JournalStart(Journal& journal, const intake::CommandLine& commandLine) {
  std::vector<std::u16string> args;
  for (std::size_t i = 1; i <= commandLine.Count(); ++i) args.push_back(commandLine.Argument(i));
  journal.Write(JournalEntry("start").Text("command_line", RawText()).Texts("args", args));
}

}  // namespace zyp::companions
