#include "app/main_window.h"

#include "intake/dispatch.h"
#include "platform/win32/system_process.h"
#include "platform/win32/system_windowing.h"

namespace zyp::app {

namespace {

// The window as designed: caption, position and client size.
constexpr wchar_t kCaption[] = L"frmZYPQueueAddURL";
constexpr int kDesignLeft = -1000;
constexpr int kDesignTop = 257;
constexpr int kClientWidth = 242;
constexpr int kClientHeight = 76;
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

}  // namespace

TfrmZYPQueueAddURL::TfrmZYPQueueAddURL(Application& application) : application_(application) {
  RECT frame{0, 0, kClientWidth, kClientHeight};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  Create(L"TfrmZYPQueueAddURL", 0, kStyle, kCaption, kDesignLeft, kDesignTop, frame.right - frame.left,
         frame.bottom - frame.top);
  try {
    FormCreate();
  } catch (...) {
    application_.ReportError(std::current_exception());
  }
}

void TfrmZYPQueueAddURL::FormCreate() {
  win32::SystemProcess process;
  win32::SystemWindowing windowing(application_.Handle(), Handle());
  win32::SystemShell shell;
  intake::Services services{process, windowing, shell};
  intake::Dispatch(services);
}

LRESULT TfrmZYPQueueAddURL::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    // The main window's close ends the application.
    ::PostQuitMessage(0);
    return 0;
  }
  return MessageWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace zyp::app
