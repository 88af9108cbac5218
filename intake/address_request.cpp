#include "intake/address_request.h"

#include "intake/companions.h"
#include "intake/dispatch.h"
#include "intake/fixed_texts.h"
#include "intake/queue_messages.h"
#include "intake/trace_masking.h"
#include "platform/ascii_text.h"

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

AddressOutcome RunAddressRequest(Services& services, const ArgumentList& arguments) {
  const RequestFields fields = ParseArgumentList(arguments, {services.cookies, services.registry});

  services.trace.Step("fields", [&](TraceLine& line) {
    std::vector<std::u16string> cookieNames;
    for (std::size_t i = 1; i < arguments.size(); ++i)
      if (AsciiStartsWithIgnoreCase(arguments[i], kCookieListKeyword))
        for (std::u16string& name : CookieNames(std::u16string_view(arguments[i]).substr(kCookieListKeyword.size())))
          cookieNames.push_back(std::move(name));
    line.Text("address", fields.Address)
        .Text("page_title", fields.PageTitle)
        .Text("link_text", fields.LinkText)
        .Text("extra_text", fields.ExtraText)
        .Text("browser_tag", fields.BrowserTag)
        .Text("user_agent", fields.UserAgent)
        .Flag("load_from_registry", fields.LoadFromRegistry)
        .Texts("cookie_names", cookieNames);
  });

  AddressOutcome outcome;
  if (arguments.size() >= 2 && (arguments[1] == kLinkExplorerMarker || fields.ExtraText == kLinkExplorerMarker)) {
    TraceRequest(services.trace, "link explorer");
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
