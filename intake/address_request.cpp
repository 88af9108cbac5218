#include "intake/address_request.h"

#include "intake/argument_list.h"
#include "intake/command_line.h"
#include "intake/companions.h"
#include "intake/fixed_texts.h"
#include "intake/queue_messages.h"

namespace zyp::intake {

std::u16string QuotedParameter(const std::u16string& address, const std::u16string& extraText) {
  std::u16string safeAddress;
  for (const char16_t c : address) {
    if (c == u'"')
      safeAddress += u"%22";
    else
      safeAddress.push_back(c);
  }
  std::u16string safeExtra;
  for (const char16_t c : extraText)
    if (c != u'"') safeExtra.push_back(c);
  return u"\"" + MakeAddressText(safeAddress, safeExtra) + u"\"";
}

AddressOutcome RunAddressRequest(Services& services, const std::u16string& firstArgument,
                                 const CommandLine& commandLine) {
  const ArgumentList arguments = BuildArgumentList(firstArgument, commandLine, services.files, services.locale);
  const RequestFields fields = ParseArgumentList(arguments, {services.cookies, services.registry});

  AddressOutcome outcome;
  if (arguments.size() >= 2 && (arguments[1] == kLinkExplorerMarker || fields.ExtraText == kLinkExplorerMarker)) {
    // The extra text is not passed to the link explorer.
    const bool started = StartCompanion(services, kLinkExplorerProgram, QuotedParameter(fields.Address, u""));
    PostCloseRequest(services);
    outcome.delivery = started ? Delivery::Delivered : Delivery::NotDelivered;
    outcome.linkExplorer = true;
    return outcome;
  }

  // The manager may have started or stopped while the list was read.
  const platform::WindowHandle managerWindow =
      services.windowing.FindTopLevelWindow(std::u16string(kManagerWindowClass));
  if (managerWindow == 0) {
    const bool started = StartCompanion(services, kManagerProgram, QuotedParameter(fields.Address, fields.ExtraText));
    outcome.delivery = started ? Delivery::Delivered : Delivery::NotDelivered;
  } else if (ConnectQueue(services.pipe)) {
    const std::u16string message = std::u16string(kAddUrlPrefix) + MakeAddressText(fields.Address, fields.ExtraText);
    outcome.delivery = SendPipeText(services.pipe, message) ? Delivery::Queued : Delivery::NotDelivered;
  }
  return outcome;
}

}  // namespace zyp::intake
