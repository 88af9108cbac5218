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
constexpr wchar_t kWindowClass[] = L"TfrmZYPQueueAddURL";
constexpr wchar_t kCaption[] = L"frmZYPQueueAddURL";
constexpr int kDesignLeft = -1000;
constexpr int kDesignTop = 257;
constexpr int kClientWidth = 242;
constexpr int kClientHeight = 76;
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

constexpr std::uint32_t kQueueMemoryThrottle = 10240000;
constexpr char16_t kQueuePipeName[] = u"ZYPQueueURLPipeServer";

}  // namespace

MainWindow::MainWindow(Application& application, platform::NotificationArea& notificationArea, platform::Files& files,
                       platform::Locale& locale, cookies::CookieStore& cookies, intake::Trace& trace, Work work)
    : application_(application), files_(files), locale_(locale), cookies_(cookies), trace_(trace) {
  RECT frame{0, 0, kClientWidth, kClientHeight};
  // Fails only for a style it does not know; the frame then keeps the client size.
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  try {
    Create(kWindowClass, 0, kStyle, kCaption, kDesignLeft, kDesignTop, frame.right - frame.left,
           frame.bottom - frame.top);
  } catch (const PlatformError& error) {
    // Without the window there is no work and no close request: report it
    // and let the message loop end at once.
    std::u16string message = u"The program's window cannot be created";
    if (error.Code() != ERROR_SUCCESS) message += u": " + error.Message();
    error_reported_ = true;
    application_.ReportError(std::make_exception_ptr(Error(message)));
    application_.Terminate();
    return;
  }
  try {
    CreateComponents(notificationArea);
    HandleCreation(work);
  } catch (...) {
    error_reported_ = true;
    application_.ReportError(std::current_exception());
    // Nothing else would ever close the hidden window: end the run. The
    // window's own queue is empty, so the post cannot fail for want of room.
    ::PostMessageW(Handle(), WM_CLOSE, 0, 0);
  }
}

MainWindow::~MainWindow() { DestroyComponents(); }

void MainWindow::CreateComponents(platform::NotificationArea& notificationArea) {
  pipe_client_ = &components_.CreateComponent<pipes::PipeClient>();
  pipe_client_->SetMemoryThrottle(kQueueMemoryThrottle);
  pipe_client_->SetPipeName(kQueuePipeName);
  // Whoever creates the pipe name first serves it: the request goes only to
  // a process of this user in this session, as the queue manager is.
  pipe_client_->server_check = [this](HANDLE pipe) {
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
  pipe_client_->on_pipe_sent = [this](pipes::PipeClient& client, HANDLE, std::uint32_t size) {
    write_confirmed_ = client.QueuedSize() == 0;
    intake::TracePipeSent(trace_, size, write_confirmed_);
  };
  if (trace_.On()) {
    pipe_client_->on_connect_attempt = [this](pipes::PipeClient&, std::uint32_t error, std::uint32_t server) {
      intake::TracePipeAttempt(trace_, error, server);
    };
  }

  tray_icon_ = &components_.CreateComponent<TrayIcon>(application_, notificationArea);
  tray_icon_->SetActive(true);
  tray_icon_->SetVisibility({TrayVisibility::AutoHide, TrayVisibility::AutoHideIcon});

  // Every component is configured: their load steps run before the work.
  tray_icon_->Loaded();
}

void MainWindow::HandleCreation(const Work& work) {
  win32::SystemProcess process;
  win32::SystemWindowing windowing(application_.Handle(), Handle());
  win32::SystemShell shell;
  win32::SystemRegistry registry;
  PipeClientQueue pipe(*pipe_client_);
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

void MainWindow::FinishDelivery(std::chrono::steady_clock::time_point deadline) {
  if (delivery_ != intake::Delivery::Queued) return;
  while (!write_confirmed_ && pipe_client_->Connected()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    // Whatever ends the wait, the loop looks at the queue and the time again.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    try {
      pipes::PumpMessages();
    } catch (...) {
      application_.ReportError(std::current_exception());
    }
  }
  connection_lost_ = !write_confirmed_ && !pipe_client_->Connected();
  if (!write_confirmed_) trace_.NoteCause("the queue manager did not confirm reading the whole message in time");
}

void MainWindow::DestroyComponents() {
  // Reverse order of creation: the tray, created last, goes first.
  if (tray_icon_ != nullptr) {
    components_.DestroyLastComponent();
    tray_icon_ = nullptr;
  }
  if (pipe_client_ != nullptr) {
    // The worker may still complete a write while it stops: only once it has
    // ended is it known whether the whole message went into the pipe.
    try {
      pipe_client_->Disconnect();
    } catch (...) {
      win32::KeepDispatchError(std::current_exception());
    }
    all_written_ = pipe_client_->AllWritten();
    pipe_client_ = nullptr;
  }
  components_.DestroyComponents();
}

int MainWindow::ExitCode() const {
  using intake::PipeProgress;
  const PipeProgress progress = write_confirmed_                    ? PipeProgress::Read
                                : all_written_ && !connection_lost_ ? PipeProgress::InPipe
                                                                    : PipeProgress::Incomplete;
  return intake::ExitCodeFor(delivery_, progress, error_reported_);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    // The main window's close ends the application.
    application_.Terminate();
    return 0;
  }
  return MessageWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace zyp::app
