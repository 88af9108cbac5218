#pragma once
// The notice that a pipe worker has on its way to its client. The window
// message that goes with it only wakes the client and carries a one-time
// tag; what the notice says stays here. Any program may post or send any
// message to the client's window: without the tag armed here such a message
// finds nothing, so it can neither fake a notice nor make the client read at
// an address of its choosing.
#include <windows.h>

#include <optional>

namespace zyp::pipes {

struct Notice {
  UINT message = 0;
  HANDLE pipe = nullptr;
  // The error code, the bytes written, or the Stream* of a message (null
  // when nobody collects messages).
  LPARAM value = 0;
};

class NoticeBox {
 public:
  struct Tag {
    WPARAM w_param;
    LPARAM l_param;
  };

  // Worker: keeps the notice and returns a fresh random tag for its message.
  // Raises the platform error when no random tag can be made.
  Tag Arm(const Notice& notice);
  // Worker: the message has been handled, or never will be.
  void Disarm();
  // Client: the armed notice, when the message is its own and carries its
  // tag; each notice is taken once.
  std::optional<Notice> Take(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool armed_ = false;
  Notice notice_;
  Tag tag_{};
};

}  // namespace zyp::pipes
