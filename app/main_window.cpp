#include "app/main_window.h"

#include "app/pipe_client_queue.h"
#include "cookies/cookie_store.h"
#include "pipes/pipe_client.h"
#include "pipes/thread_sync.h"
#include "platform/win32/pipe_server_identity.h"
#include "platform/win32/system_process.h"
#include "platform/win32/system_registry.h"
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

constexpr std::uint32_t kQueueMemoryThrottle = 10240000;
constexpr char16_t kQueuePipeName[] = u"ZYPQueueURLPipeServer";

}  // namespace

TfrmZYPQueueAddURL::TfrmZYPQueueAddURL(Application& application, platform::NotificationArea& notificationArea,
                                       platform::Files& files, platform::Locale& locale, cookies::CookieStore& cookies,
                                       Work work)
    : application_(application), files_(files), locale_(locale), cookies_(cookies) {
  RECT frame{0, 0, kClientWidth, kClientHeight};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  Create(L"TfrmZYPQueueAddURL", 0, kStyle, kCaption, kDesignLeft, kDesignTop, frame.right - frame.left,
         frame.bottom - frame.top);
  try {
    CreateComponents(notificationArea);
    FormCreate(work);
  } catch (...) {
    errorReported_ = true;
    application_.ReportError(std::current_exception());
    // Nothing else would ever close the hidden window: end the run.
    ::PostMessageW(Handle(), WM_CLOSE, 0, 0);
  }
}

TfrmZYPQueueAddURL::~TfrmZYPQueueAddURL() { DestroyComponents(); }

void TfrmZYPQueueAddURL::CreateComponents(platform::NotificationArea& notificationArea) {
  PipeClient2 = &components_.CreateComponent<pipes::TPipeClient>();
  PipeClient2->SetMemoryThrottle(kQueueMemoryThrottle);
  PipeClient2->SetPipeName(kQueuePipeName);
  // Whoever creates the pipe name first serves it: the request goes only to
  // a process of this user in this session, as the queue manager is.
  PipeClient2->ServerCheck = [](HANDLE pipe) {
    win32::SystemProcessIdentities identities;
    return win32::ServedBySameUserAndSession(pipe, identities);
  };
  // Tells a delivered queue message from one that was only queued: the
  // worker takes the next packet only after this notice, so a notice that
  // finds the queue empty confirms the last packet.
  PipeClient2->OnPipeSent = [this](pipes::TPipeClient& client, HANDLE, std::uint32_t) {
    writeConfirmed_ = client.QueuedSize() == 0;
  };

  TrayIcon1 = &components_.CreateComponent<TTrayIcon>(application_, notificationArea);
  TrayIcon1->SetActive(true);
  TrayIcon1->SetIconIndex(0);
  TrayIcon1->SetVisibility(
      {TTrayVisibility::tvVisibleTaskList, TTrayVisibility::tvAutoHide, TTrayVisibility::tvAutoHideIcon});

  // Every component is configured: their load steps run before the work.
  TrayIcon1->Loaded();
}

void TfrmZYPQueueAddURL::FormCreate(const Work& work) {
  win32::SystemProcess process;
  win32::SystemWindowing windowing(application_.Handle(), Handle());
  win32::SystemShell shell;
  win32::SystemRegistry registry;
  PipeClientQueue pipe(*PipeClient2);
  intake::Services services{process, windowing, shell, files_, locale_, registry, cookies_, pipe};
  delivery_ = work(services);
}

void TfrmZYPQueueAddURL::FinishDelivery(std::chrono::steady_clock::time_point deadline) {
  if (delivery_ != intake::Delivery::Queued) return;
  while (!writeConfirmed_ && PipeClient2->Connected()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    try {
      pipes::PumpMessages();
    } catch (...) {
      application_.ReportError(std::current_exception());
    }
  }
}

int TfrmZYPQueueAddURL::ExitCode() const { return intake::ExitCodeFor(delivery_, writeConfirmed_, errorReported_); }

LRESULT TfrmZYPQueueAddURL::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    // The main window's close ends the application.
    ::PostQuitMessage(0);
    return 0;
  }
  return MessageWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace zyp::app
