#pragma once
// The hidden main window. Its creation runs the program's whole work; it is
// never shown, and closing it ends the program.
#include <windows.h>

#include "app/application.h"
#include "platform/win32/message_window.h"

namespace zyp::app {

class TfrmZYPQueueAddURL final : public win32::MessageWindow {
 public:
  explicit TfrmZYPQueueAddURL(Application& application);

 private:
  void FormCreate();
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  Application& application_;
};

}  // namespace zyp::app
