#pragma once
// The window message numbers of the pipe module: the worker's notices to its
// client, the client's message to itself, and the news of the worker's end.
#include <windows.h>

namespace zyp::pipes {

// Notices of the pipe worker. The data-carrying ones are sent, so the worker
// waits until its client's thread has handled them. Their parameters are a
// one-time tag; what each reports waits in the client's NoticeBox.
inline constexpr UINT PN_ERROR = 1125;         // an error code
inline constexpr UINT PN_SENT = 1127;          // bytes written
inline constexpr UINT PN_MESSAGE = 1128;       // a message from the server, or only that one came
inline constexpr UINT PN_WRONG_THREAD = 1224;  // posted
// Posted by a client to its own notify window to disconnect later.
inline constexpr UINT PN_DISCONNECT = 1324;
// Posted by the worker's thread to its client's notify window as its last
// act; carries nothing, so the client only looks.
inline constexpr UINT PN_WORKER_ENDED = 0x8FFD;

// The range that a client takes in while it waits for a reply.
inline constexpr UINT kReplyRangeFirst = 1124;
inline constexpr UINT kReplyRangeLast = 1130;

}  // namespace zyp::pipes
