#include "app/main_window.h"

#include "app/pipe_client_queue.h"
#include "cookies/cookie_store.h"
#include "intake/traced_services.h"
#include "pipes/pipe_client.h"
#include "pipes/thread_sync.h"
#include "platform/win32/pipe_server_identity.h"
#include "platform/win32/system_process.h"
#include "platform/win32/system_registry.h"
#include "platform/win32/system_shell.h"
#include "platform/win32/system_windowing.h"
#include "platform/win32/wide_text.h"

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
                                       intake::Trace& trace, Work work)
    : application_(application), files_(files), locale_(locale), cookies_(cookies), trace_(trace) {
  RECT frame{0, 0, kClientWidth, kClientHeight};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  if (!Create(L"TfrmZYPQueueAddURL", 0, kStyle, kCaption, kDesignLeft, kDesignTop, frame.right - frame.left,
              frame.bottom - frame.top)) {
    // Without the window there is no work and no close request: report it
    // and let the message loop end at once.
    const DWORD code = ::GetLastError();
    std::u16string message = u"The program's window cannot be created";
    if (code != ERROR_SUCCESS) message += u": " + win32::SystemMessage(code);
    errorReported_ = true;
    application_.ReportError(std::make_exception_ptr(Error(message)));
    ::PostQuitMessage(0);
    return;
  }
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
  PipeClient2 = &components_.CreateComponent<pipes::PipeClient>();
  PipeClient2->SetMemoryThrottle(kQueueMemoryThrottle);
  PipeClient2->SetPipeName(kQueuePipeName);
  // Whoever creates the pipe name first serves it: the request goes only to
  // a process of this user in this session, as the queue manager is.
  PipeClient2->server_check = [this](HANDLE pipe) {
    win32::SystemProcessIdentities identities;
    const bool same = win32::ServedBySameUserAndSession(pipe, identities);
    if (!same) {
      trace_.Step("pipe_refused");
      trace_.NoteCause("the pipe is served by a process of another user or session: nothing was sent");
    }
    return same;
  };
  // Tells a delivered queue message from one that was only queued: the
  // worker takes the next packet only after this notice, so a notice that
  // finds the queue empty confirms the last packet.
  PipeClient2->on_pipe_sent = [this](pipes::PipeClient& client, HANDLE, std::uint32_t size) {
    writeConfirmed_ = client.QueuedSize() == 0;
    intake::TracePipeSent(trace_, size, writeConfirmed_);
  };
  if (trace_.On()) {
    PipeClient2->on_connect_attempt = [this](pipes::PipeClient&, std::uint32_t error, std::uint32_t server) {
      intake::TracePipeAttempt(trace_, error, server);
    };
  }

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
  if (!trace_.On()) {
    intake::Services services{process, windowing, shell, files_, locale_, registry, cookies_, pipe, trace_};
    delivery_ = work(services);
    return;
  }
  intake::TracedWindowing tracedWindowing(windowing, trace_);
  intake::TracedShell tracedShell(shell, trace_);
  intake::TracedRegistry tracedRegistry(registry, trace_);
  intake::TracedQueuePipe tracedPipe(pipe, trace_);
  intake::Services services{process,        tracedWindowing, tracedShell, files_, locale_,
                            tracedRegistry, cookies_,        tracedPipe,  trace_};
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
  if (!writeConfirmed_) trace_.NoteCause("the queue manager did not confirm reading the whole message in time");
}

void TfrmZYPQueueAddURL::DestroyComponents() {
  // Reverse order of creation: the tray, created last, goes first.
  if (TrayIcon1 != nullptr) {
    components_.DestroyLastComponent();
    TrayIcon1 = nullptr;
  }
  if (PipeClient2 != nullptr) {
    // The worker may still complete a write while it stops: only once it has
    // ended is it known whether the whole message went into the pipe.
    try {
      PipeClient2->Disconnect();
    } catch (...) {
      win32::KeepDispatchError(std::current_exception());
    }
    allWritten_ = PipeClient2->AllWritten();
    PipeClient2 = nullptr;
  }
  components_.DestroyComponents();
}

int TfrmZYPQueueAddURL::ExitCode() const {
  using intake::PipeProgress;
  const PipeProgress progress = writeConfirmed_ ? PipeProgress::Read
                                : allWritten_   ? PipeProgress::InPipe
                                                : PipeProgress::Incomplete;
  return intake::ExitCodeFor(delivery_, progress, errorReported_);
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
