#pragma once
// How a test wants the stand-in queue manager to misbehave, read once from
// environment variables at start-up:
//   ZYP_QM_NO_PIPE=1        no pipe server at all (window only)
//   ZYP_QM_BUSY=1           the pipe exists but its only instance is taken
//   ZYP_QM_NO_READ=1        accept connections and never read from them
//   ZYP_QM_SLOW_READ_MS=n   wait n ms before each read
//   ZYP_QM_REPLY=text       answer every received message with this text
//   ZYP_QM_FLOOD=kind       after the first message, write without pause and
//                           read no more: "messages" (small ones), "pieces"
//                           (a start packet, then pieces without end) or
//                           "huge" (one message of ZYP_QM_FLOOD_MB MiB, 256)
//   ZYP_QM_CLOSE_AFTER=n    drop a connection after it carried n pipe messages
//   ZYP_QM_HANG_UP=1        drop every connection as soon as it is accepted
//   ZYP_QM_HANG_UP_UNREAD=1 drop every connection once a message waits in it,
//                           without reading it
//   ZYP_QM_IDLE_MS=n        exit after n ms without any activity
#include <cstdint>
#include <string>

namespace zyp::companions {

struct ManagerKnobs {
  bool noPipe = false;
  bool busy = false;
  bool noRead = false;
  std::uint32_t slowReadMs = 0;
  std::u16string reply;
  std::u16string flood;
  std::uint32_t floodMb = 256;
  std::uint32_t closeAfter = 0;  // 0: never
  bool hangUp = false;
  bool hangUpUnread = false;
  std::uint32_t idleMs = 5000;

  static ManagerKnobs FromEnvironment();
};

}  // namespace zyp::companions
