#pragma once
// What ZYPQueueAddURL.exe is given for a browser's request: the control word
// of a queue request as its one argument, or a parameter file that holds
// every other request, one argument per line, so that no text of a page ever
// meets the command line's quoting.
#include <string>
#include <vector>

#include "messaging/browser_request.h"

namespace zyp::messaging {

// The arguments of an address, link-explorer or list request, in the order
// the program reads them: the address (or the list) first, the link
// explorer's marker right after it.
std::vector<std::u16string> ArgumentLines(const BrowserRequest& request);

// The parameter file of the request's argument lines: UTF-8 with its
// byte-order mark, the header line, then each line ended by CR LF.
std::string ParameterFileBytes(const BrowserRequest& request);

// "START" or "STOP".
std::u16string ControlWord(const BrowserRequest& request);

}  // namespace zyp::messaging
