#include "intake/dispatch.h"

#include "intake/command_line.h"
#include "intake/companions.h"
#include "intake/fixed_texts.h"
#include "platform/ascii_text.h"

namespace zyp::intake {

RequestKind ClassifyFirstArgument(std::u16string_view firstArgument) {
  if (AsciiEqualIgnoreCase(firstArgument, kStartWord) || AsciiEqualIgnoreCase(firstArgument, kStopWord))
    return RequestKind::Control;
  if (firstArgument.substr(0, kListPrefix.size()) == kListPrefix) return RequestKind::List;
  return RequestKind::Address;
}

void Dispatch(Services& services) {
  services.windowing.MoveMainWindow(kHiddenLeft, kHiddenTop);
  const CommandLine commandLine(services.process.CommandLine());
  const std::u16string firstArgument = commandLine.Argument(1);
  const std::uint32_t progressMessage = services.windowing.RegisterMessage(std::u16string(kProgressMessageName));
  const platform::WindowHandle managerWindow =
      services.windowing.FindTopLevelWindow(std::u16string(kManagerWindowClass));

  switch (ClassifyFirstArgument(firstArgument)) {
    case RequestKind::Control:
      if (managerWindow != 0) {
        const bool start = AsciiEqualIgnoreCase(firstArgument, kStartWord);
        services.windowing.Post(managerWindow, progressMessage, kProgressWParam,
                                start ? kProgressStart : kProgressStop);
      } else {
        StartCompanion(services, kManagerProgram, firstArgument);
      }
      PostCloseRequest(services);
      return;
    case RequestKind::List:
    case RequestKind::Address:
      // TODO(#5): deliver list and address requests; until then both take the common ending.
      break;
  }

  services.process.Pause(kClosingPauseMs);
  PostCloseRequest(services);
}

}  // namespace zyp::intake
