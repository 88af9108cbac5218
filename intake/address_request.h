#pragma once
// An address with its extra text goes to the queue manager (over its pipe,
// or by starting it), or to the link explorer.
#include <string>

#include "intake/argument_list.h"
#include "intake/services.h"

namespace zyp::intake {

inline constexpr std::u16string_view kLinkExplorerMarker = u"linkexplorer";

struct AddressOutcome {
  Delivery delivery = Delivery::NotDelivered;
  // The link explorer took the request and the close request is posted.
  bool linkExplorer = false;
};

// A parameters text for a started companion: one argument in double quotes.
// A quote in the address is written %22, one in the extra text left out, so
// text from a web page can never end the argument and add arguments of its own.
std::u16string QuotedParameter(const std::u16string& address, const std::u16string& extraText);

// The argument list comes from the command line or a parameter file; item 0
// is the address.
AddressOutcome RunAddressRequest(Services& services, const ArgumentList& arguments);

}  // namespace zyp::intake
