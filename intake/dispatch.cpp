#include "intake/dispatch.h"

#include "intake/address_request.h"
#include "intake/command_line.h"
#include "intake/companions.h"
#include "intake/fixed_texts.h"
#include "intake/queue_messages.h"
#include "platform/ascii_text.h"

namespace zyp::intake {

RequestKind ClassifyFirstArgument(std::u16string_view firstArgument) {
  if (AsciiEqualIgnoreCase(firstArgument, kStartWord) || AsciiEqualIgnoreCase(firstArgument, kStopWord))
    return RequestKind::Control;
  if (firstArgument.substr(0, kListPrefix.size()) == kListPrefix) return RequestKind::List;
  return RequestKind::Address;
}

Delivery Dispatch(Services& services) {
  services.windowing.MoveMainWindow(kHiddenLeft, kHiddenTop);
  const CommandLine commandLine(services.process.CommandLine());
  const std::u16string firstArgument = commandLine.Argument(1);
  const std::uint32_t progressMessage = services.windowing.RegisterMessage(std::u16string(kProgressMessageName));
  const platform::WindowHandle managerWindow =
      services.windowing.FindTopLevelWindow(std::u16string(kManagerWindowClass));

  Delivery delivery = Delivery::NotDelivered;
  switch (ClassifyFirstArgument(firstArgument)) {
    case RequestKind::Control: {
      bool delivered = false;
      if (managerWindow != 0) {
        const bool start = AsciiEqualIgnoreCase(firstArgument, kStartWord);
        delivered = services.windowing.Post(managerWindow, progressMessage, kProgressWParam,
                                            start ? kProgressStart : kProgressStop);
      } else {
        delivered = StartCompanion(services, kManagerProgram, firstArgument);
      }
      PostCloseRequest(services);
      return delivered ? Delivery::Delivered : Delivery::NotDelivered;
    }
    case RequestKind::List:
      delivery = RunListRequest(services, firstArgument, managerWindow);
      break;
    case RequestKind::Address: {
      const AddressOutcome outcome = RunAddressRequest(services, firstArgument, commandLine);
      if (outcome.linkExplorer) return outcome.delivery;
      delivery = outcome.delivery;
      break;
    }
  }

  // The pipe worker writes the queued message during this pause.
  services.process.Pause(kClosingPauseMs);
  PostCloseRequest(services);
  return delivery;
}

}  // namespace zyp::intake
