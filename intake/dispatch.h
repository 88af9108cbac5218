#pragma once
// The program's whole work: looks at the first argument, decides which kind
// of request it is, delivers it and asks the main window to close.
#include <string_view>

#include "intake/services.h"

namespace zyp::intake {

enum class RequestKind { Control, List, Address };

// The first three of the four tests, in their order; link explorer requests
// are told from address requests only after the argument list is parsed.
RequestKind ClassifyFirstArgument(std::u16string_view firstArgument);

// Begins with "zypqueue=", letter case exact: on the command line as the
// first argument, or in a parameter file as the address line.
bool IsListRequest(std::u16string_view argument);

// The request's kind for the trace ("control", "list", "address", "link
// explorer"), and where it was found when that is not the first argument.
void TraceRequest(Trace& trace, std::string_view kind, std::string_view from = {});

// Runs once, on the main thread, while the main window is being created.
// Errors that escape (a parameter file that cannot be read) stop it before
// the close request is posted.
Delivery Dispatch(Services& services);

}  // namespace zyp::intake
