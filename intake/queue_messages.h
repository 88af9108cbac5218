#pragma once
// The messages that reach the queue manager over its pipe ("ADDURL:" and
// "ADDURLS:" texts in UTF-8), and the list request.
#include <cstdint>
#include <string>
#include <string_view>

#include "intake/services.h"

namespace zyp::intake {

inline constexpr std::u16string_view kAddUrlPrefix = u"ADDURL:";
inline constexpr std::u16string_view kAddUrlsPrefix = u"ADDURLS:";
inline constexpr std::u16string_view kExtraTextOpen = u"[<{(";
inline constexpr std::u16string_view kExtraTextClose = u")}>]";
inline constexpr std::uint32_t kQueueConnectWaitMs = 3000;

// The address followed, when there is extra text, by "[<{(", the extra text
// and ")}>]".
std::u16string MakeAddressText(const std::u16string& address, const std::u16string& extraText);

// Connects the pipe client within 3000 ms and starts its worker.
bool ConnectQueue(QueuePipe& pipe);

// Queues the UTF-8 bytes of the text as one message, with no terminator.
// True when the pipe client took it.
bool SendPipeText(QueuePipe& pipe, std::u16string_view text);

// "ADDURLS:" + the list after "zypqueue=" (the first argument, or the address
// line of a parameter file), when the manager window found by dispatch exists
// and its pipe answers.
Delivery RunListRequest(Services& services, const std::u16string& list, platform::WindowHandle managerWindow);

}  // namespace zyp::intake
