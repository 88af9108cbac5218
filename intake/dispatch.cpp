#include "intake/dispatch.h"

#include "intake/address_request.h"
#include "intake/argument_list.h"
#include "intake/command_line.h"
#include "intake/companions.h"
#include "intake/fixed_texts.h"
#include "intake/queue_messages.h"
#include "intake/trace_masking.h"
#include "platform/ascii_text.h"
#include "platform/error.h"

namespace zyp::intake {

namespace {

constexpr std::size_t kTracedArguments = 256;

// Posts the control message to the running queue manager; false when the
// system refuses: a manager running elevated, or no number for the message
// because the system's table of names is full.
bool PostControlMessage(Services& services, platform::WindowHandle managerWindow, bool start) {
  try {
    const std::uint32_t message = services.windowing.RegisterMessage(std::u16string(kProgressMessageName));
    services.windowing.Post(managerWindow, message, kProgressWParam, start ? kProgressStart : kProgressStop);
    return true;
  } catch (const PlatformError&) {
    return false;
  }
}

}  // namespace

void TraceRequest(Trace& trace, std::string_view kind, std::string_view from) {
  trace.Step("request", [&](TraceLine& line) {
    line.Word("kind", kind);
    if (!from.empty()) line.Word("from", from);
  });
}

RequestKind ClassifyFirstArgument(std::u16string_view firstArgument) {
  if (AsciiEqualIgnoreCase(firstArgument, kStartWord) || AsciiEqualIgnoreCase(firstArgument, kStopWord))
    return RequestKind::Control;
  if (IsListRequest(firstArgument)) return RequestKind::List;
  return RequestKind::Address;
}

bool IsListRequest(std::u16string_view argument) { return argument.substr(0, kListPrefix.size()) == kListPrefix; }

Delivery Dispatch(Services& services) {
  services.windowing.MoveMainWindow(kHiddenLeft, kHiddenTop);
  const std::u16string rawCommandLine = services.process.CommandLine();
  services.trace.Step("arrived", [&](TraceLine& line) { line.Text("command_line", MaskCommandLine(rawCommandLine)); });
  const CommandLine commandLine(rawCommandLine);
  const std::u16string firstArgument = commandLine.Argument(1);
  const platform::WindowHandle managerWindow =
      services.windowing.FindTopLevelWindow(std::u16string(kManagerWindowClass));

  Delivery delivery = Delivery::NotDelivered;
  const RequestKind kind = ClassifyFirstArgument(firstArgument);
  TraceRequest(services.trace, kind == RequestKind::Control ? "control"
                               : kind == RequestKind::List  ? "list"
                                                            : "address");
  switch (kind) {
    case RequestKind::Control: {
      bool delivered = false;
      if (managerWindow != 0) {
        delivered = PostControlMessage(services, managerWindow, AsciiEqualIgnoreCase(firstArgument, kStartWord));
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
      const ArgumentList arguments = BuildArgumentList(firstArgument, commandLine, services.files, services.locale);
      services.trace.Step("arguments", [&](TraceLine& line) {
        // A parameter file may hold millions of lines; the line shows the first.
        std::vector<std::u16string> masked;
        for (std::size_t i = 0; i < arguments.size() && i < kTracedArguments; ++i)
          masked.push_back(MaskArgument(arguments[i]));
        line.Number("count", static_cast<std::int64_t>(arguments.size())).Texts("items", masked);
      });
      // A command line holds about a thousand addresses, a parameter file any
      // number: its address line is then a list, and the rest of the file is
      // ignored as it is on the command line.
      if (!arguments.empty() && IsListRequest(arguments.front())) {
        TraceRequest(services.trace, "list", "parameter file");
        delivery = RunListRequest(services, arguments.front(), managerWindow);
        break;
      }
      const AddressOutcome outcome = RunAddressRequest(services, arguments);
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
