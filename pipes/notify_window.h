#pragma once
// A hidden "ObjWndWindow" window through which an object on one thread
// receives messages from other threads: the window hands its messages to the
// method given when it was made.
#include <windows.h>

#include <functional>

#include "platform/win32/message_window.h"

namespace zyp::pipes {

inline constexpr wchar_t kNotifyWindowClass[] = L"ObjWndWindow";

// One message as the owner's method sees it; result is what the window
// procedure returns (0 unless the method sets it).
struct MessageRecord {
  UINT message;
  WPARAM w_param;
  LPARAM l_param;
  LRESULT result;
};

using MessageMethod = std::function<void(MessageRecord& message)>;

class NotifyWindow final : public win32::MessageWindow {
 public:
  // Made on the calling thread, which alone handles its messages; needs a
  // running PipeModule. With a method, every message from the end of the
  // window's creation to the start of its destruction goes to it; an
  // exception that leaves the method is kept for whoever dispatched the
  // message. Without one the window is a plain hidden window. When no window
  // can be made, Handle() is null and the owner hears nothing through it.
  explicit NotifyWindow(MessageMethod method = nullptr);
  ~NotifyWindow() override;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  MessageMethod method_;
  bool routing_ = false;
};

}  // namespace zyp::pipes
