#include "pipes/pipe_client.h"

#include <algorithm>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "pipes/framing.h"
#include "pipes/pipe_messages.h"
#include "pipes/pipe_thread.h"
#include "pipes/thread_sync.h"
#include "platform/ascii_text.h"
#include "platform/scope_exit.h"
#include "platform/win32/check.h"
#include "platform/win32/message_window.h"
#include "platform/win32/wide_text.h"

namespace zyp::pipes {

namespace {

// The texts of misuse, as the error box shows them.
constexpr char16_t kChangedWhileConnected[] = u"Cannot change property when client is connected!";
constexpr char16_t kInvalidPipeName[] = u"Invalid pipe name specified!";
constexpr char16_t kWrongThread[] = u"The notify window and the component window do not exist in the same thread!";

constexpr std::size_t kMaxPipeName = 256;
constexpr DWORD kComputerNameBuffer = 261;
// How long a stopped worker may go on waiting for the server to read, and
// how long it may take in all before it is left to end by itself.
constexpr DWORD kFlushGraceMs = 500;
constexpr DWORD kStopBoundMs = 1000;
constexpr DWORD kCancelRetryMs = 10;

bool InSentMessage() { return ::InSendMessage() != FALSE; }

// What an exception that ended the worker reports as its error code.
std::int32_t WorkerErrorCode(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const PlatformError& platformError) {
    return static_cast<std::int32_t>(platformError.Code());
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INTERNAL_ERROR;
  }
}

}  // namespace

PipeClient::PipeClient()
    : base_thread_(::GetCurrentThreadId()),
      link_(std::make_shared<PipeLink>()),
      window_([this](MessageRecord& message) { WndProc(message); }) {}

PipeClient::~PipeClient() {
  destroying_ = true;
  try {
    Disconnect();
  } catch (...) {
    // An event handler's error met during the wait: the message loop reports it.
    win32::KeepDispatchError(std::current_exception());
  }
  // Still running when the wait raised, or when this runs inside one of the
  // worker's own notices, where it cannot be waited for.
  ForgetEndedWorker();
  if (worker_) AbandonWorker();
}

void PipeClient::CheckNotOpen() const {
  if (Connected() || PipeValid()) throw PipeException(kChangedWhileConnected);
}

void PipeClient::SetPipeName(const std::u16string& value) {
  CheckNotOpen();
  if (value.empty() || value.size() > kMaxPipeName || value.find(u'\\') != std::u16string::npos)
    throw PipeException(kInvalidPipeName);
  pipe_name_ = value;
}

void PipeClient::SetServerName(const std::u16string& value) {
  CheckNotOpen();
  server_name_ = value;
}

bool PipeClient::Connected() const { return worker_ && !worker_->Ended(); }

void PipeClient::ForgetEndedWorker() {
  if (worker_ && worker_->Ended()) WorkerEnded();
}

std::wstring PipeClient::PipePath() const {
  bool remote = false;
  if (!server_name_.empty()) {
    wchar_t name[kComputerNameBuffer] = {};
    DWORD size = kComputerNameBuffer;
    // A machine whose own name cannot be read is taken to be another.
    const std::u16string self = ::GetComputerNameW(name, &size) ? win32::FromWide(name, size) : std::u16string();
    remote = !AsciiEqualIgnoreCase(server_name_, self);
  }
  if (remote) return L"\\\\" + win32::ToWide(server_name_) + L"\\pipe\\" + win32::ToWide(pipe_name_);
  return L"\\\\.\\pipe\\" + win32::ToWide(pipe_name_);
}

bool PipeClient::OpenPipe(const std::wstring& path, std::uint32_t waitTime) {
  // Another client may take the instance that WaitNamedPipeW reported free;
  // the server makes a new one soon after, so a busy pipe is tried again
  // for as long as the wait time lasts.
  const DWORD start = ::GetTickCount();
  DWORD wait = waitTime;
  for (;;) {
    if (!::WaitNamedPipeW(path.c_str(), wait)) {
      ReportAttempt(::GetLastError());
      return false;
    }
    // The server may learn who we are, never act as us; no child process
    // inherits the handle.
    open_pipe_.Reset(::CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    ReportAttempt(open_pipe_ ? ERROR_SUCCESS : ::GetLastError());
    if (open_pipe_) {
      pipe_ = open_pipe_.Get();
      return true;
    }
    // The default wait (0) has no length of its own to retry within.
    if (::GetLastError() != ERROR_PIPE_BUSY || waitTime == NMPWAIT_USE_DEFAULT_WAIT) return false;
    if (waitTime != NMPWAIT_WAIT_FOREVER) {
      const DWORD elapsed = ::GetTickCount() - start;
      if (elapsed >= waitTime) return false;
      wait = waitTime - elapsed;
    }
  }
}

void PipeClient::ReportAttempt(DWORD error) {
  if (!on_connect_attempt) return;
  ULONG server = 0;
  if (open_pipe_ && !::GetNamedPipeServerProcessId(open_pipe_.Get(), &server)) server = 0;
  on_connect_attempt(*this, error, server);
  // The handler may have touched the last error: the caller reads it next.
  ::SetLastError(error);
}

bool PipeClient::Connect(std::uint32_t waitTime, bool start) {
  ForgetEndedWorker();
  if (Connected()) return true;
  if (PipeValid()) {
    if (start) StartWorker();
  } else if (OpenPipe(PipePath(), waitTime)) {
    if (server_check && !server_check(pipe_)) {
      open_pipe_.Reset();
      pipe_ = INVALID_HANDLE_VALUE;
      return false;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    // Not looked at, as ever: the server's pipe keeps our writes whole
    // either way; only what it sends would lose its boundaries.
    ::SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
    if (start) StartWorker();
  }
  return Connected() || PipeValid();
}

void PipeClient::StartWorker() {
  try {
    worker_ = std::make_shared<PipeThread>(window_.Handle(), base_thread_, link_, std::move(open_pipe_),
                                           static_cast<bool>(on_pipe_message));
    worker_->Run(THREAD_PRIORITY_BELOW_NORMAL, {window_.Handle(), PN_WORKER_ENDED});
  } catch (...) {
    // Connect reports the failure; the pipe goes with the worker, or here
    // when the worker was never made.
    worker_.reset();
    open_pipe_.Reset();
    pipe_ = INVALID_HANDLE_VALUE;
  }
}

void PipeClient::WorkerEnded() {
  // Cleared before anything is told: a handler may connect again.
  const std::exception_ptr workerError = worker_->TakeFatalException();
  worker_.reset();
  ConnectionEnded(workerError);
}

void PipeClient::AbandonWorker() {
  // It keeps what it shares with this client and reaches the client no
  // more; its queue is emptied, so it writes nothing more.
  ::SetEvent(link_->kill.Get());  // the client's own event: cannot fail
  link_->queue.DiscardAll();
  worker_.reset();
  // Judged before the queue is replaced: a write the worker has taken and
  // may yet complete counts as dropped, since nobody would hear of it.
  if (!link_->queue.AllWritten()) writes_abandoned_ = true;
  if (!destroying_) link_ = std::make_shared<PipeLink>();
  ConnectionEnded(nullptr);
}

void PipeClient::ConnectionEnded(std::exception_ptr workerError) {
  // Forgotten before anyone hears of it: a handler that connects again
  // must find neither the closed handle nor the old connection's writes.
  const HANDLE pipe = std::exchange(pipe_, INVALID_HANDLE_VALUE);
  link_->queue.DiscardAll();
  if (destroying_) return;
  // The worker's own failure reaches the owner as the pipe's error.
  if (workerError && on_pipe_error) on_pipe_error(*this, pipe, WorkerErrorCode(workerError));
  if (on_pipe_disconnect) on_pipe_disconnect(*this, pipe);
}

void PipeClient::Disconnect() {
  ForgetEndedWorker();
  if (Connected() && !disconnecting_) {
    // The worker waits for this thread right now: waiting for the worker
    // here would block both. Disconnect once the sent message is handled.
    if (InSentMessage()) {
      disconnect_posted_ = true;
      // A post that fails (our queue is full) leaves the disconnect to the
      // next call or to the destructor.
      ::PostMessageW(window_.Handle(), PN_DISCONNECT, 0, 0);
      return;
    }
    disconnecting_ = true;
    const ScopeExit done([this] {
      // A disconnect handler may have connected again meanwhile.
      if (!worker_ && !open_pipe_) pipe_ = INVALID_HANDLE_VALUE;
      disconnecting_ = false;
    });
    ::SetEvent(link_->kill.Get());  // the client's own event: cannot fail
    StopWorker();
  } else if (open_pipe_) {
    // Only a pipe that no worker owns is closed here.
    open_pipe_.Reset();
    pipe_ = INVALID_HANDLE_VALUE;
  }
}

void PipeClient::StopWorker() {
  // Our own reference: the worker's end, heard during the wait, lets go of
  // the client's.
  const std::shared_ptr<PipeThread> worker = worker_;
  const std::shared_ptr<PipeLink> link = link_;
  // Handles this thread's messages, so the worker's last notices run during
  // the wait. A server that reads gets the grace to take what is in the
  // pipe; then the worker's flushes are given up, again and again, since a
  // cancel may come just before a flush starts.
  const DWORD start = ::GetTickCount();
  bool ended = WaitForThread(worker->Handle(), kFlushGraceMs);
  while (!ended) {
    link->flushes.Stop();
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= kStopBoundMs) break;
    ended = WaitForThread(worker->Handle(), std::min(kCancelRetryMs, kStopBoundMs - elapsed));
  }
  // A handler may have ended this connection and started another meanwhile.
  if (worker_ != worker) return;
  if (ended)
    WorkerEnded();
  else
    AbandonWorker();
}

void PipeClient::FlushPipeBuffers() {
  if (InSentMessage()) return;
  while (Connected()) {
    // A worker that ends takes its writes with it: that counts as empty.
    const HANDLE events[] = {link_->queue.EmptyEvent(), worker_->Handle()};
    const DWORD result = ::MsgWaitForMultipleObjectsEx(2, events, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0) return;
    if (result == WAIT_OBJECT_0 + 2) PumpMessages();
  }
  ForgetEndedWorker();
}

bool PipeClient::WaitForReply(std::uint32_t timeOut) {
  reply_ = false;
  if (InSentMessage()) return false;
  const DWORD start = ::GetTickCount();
  while (!reply_ && Connected()) {
    if (timeOut != INFINITE && ::GetTickCount() - start >= timeOut) break;
    MSG msg;
    if (::PeekMessageW(&msg, nullptr, kReplyRangeFirst, kReplyRangeLast, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    // The worker's notices run inside PeekMessageW.
    win32::RethrowDispatchError();
  }
  return reply_;
}

bool PipeClient::Throttled() const { return throttle_ != 0 && link_->queue.DataSize() > throttle_ && Connected(); }

bool PipeClient::Write(const void* buffer, std::int32_t count) {
  // Tested before queuing: one write may take the queue past the throttle.
  if (Throttled()) FlushPipeBuffers();
  if (!Connected()) return false;
  link_->queue.Enqueue(NewPipeWrite(buffer, count));
  return true;
}

bool PipeClient::Write(const void* prefix, std::int32_t prefixCount, const void* buffer, std::int32_t count) {
  if (Throttled()) FlushPipeBuffers();
  if (!Connected()) return false;
  link_->queue.Enqueue(NewPrefixedPipeWrite(prefix, prefixCount, buffer, count));
  return true;
}

bool PipeClient::SendStream(Stream* stream) {
  if (stream == nullptr || !Connected()) return false;
  link_->queue.EnqueueStartPacket();
  // The end packet comes also when a read or write raises, so the server
  // never appends a later message to this one; the first error is the one
  // that leaves.
  ScopeExit endOnError([this] {
    try {
      link_->queue.EnqueueEndPacket();
      FlushPipeBuffers();
    } catch (...) {
      // A second error while the first one leaves: the first says more.
    }
  });
  std::vector<std::uint8_t> buffer(kMaxPipeWrite);
  stream->SetPosition(0);
  bool failed = false;
  std::size_t read = stream->Read(buffer.data(), buffer.size());
  while (read > 0 && !failed) {
    if (Write(buffer.data(), static_cast<std::int32_t>(read)))
      read = stream->Read(buffer.data(), buffer.size());
    else
      failed = true;
  }
  endOnError.Dismiss();
  link_->queue.EnqueueEndPacket();
  FlushPipeBuffers();
  return !failed;
}

void PipeClient::WndProc(MessageRecord& message) {
  switch (message.message) {
    case PN_ERROR:
    case PN_SENT:
    case PN_MESSAGE:
    case PN_WRONG_THREAD:
      // Any program may post or send these numbers to this window: only
      // the notice that the worker armed, with its tag, counts.
      if (const std::optional<Notice> notice = link_->notices.Take(message.message, message.w_param, message.l_param))
        HandleNotice(*notice);
      break;
    case PN_DISCONNECT:
      if (std::exchange(disconnect_posted_, false)) Disconnect();
      break;
    case PN_WORKER_ENDED:
      // Only looks: another program may post this number too, and the
      // worker's own post may come after its end was heard otherwise.
      ForgetEndedWorker();
      break;
    default:
      message.result = ::DefWindowProcW(window_.Handle(), message.message, message.w_param, message.l_param);
      return;
  }
  message.result = 0;
}

void PipeClient::HandleNotice(const Notice& notice) {
  switch (notice.message) {
    case PN_ERROR:
      if (on_pipe_error) on_pipe_error(*this, notice.pipe, static_cast<std::int32_t>(notice.value));
      break;
    case PN_SENT:
      if (on_pipe_sent) on_pipe_sent(*this, notice.pipe, static_cast<std::uint32_t>(notice.value));
      break;
    case PN_MESSAGE:
      reply_ = true;
      // No stream when nobody listened as the worker started.
      if (on_pipe_message && notice.value != 0)
        on_pipe_message(*this, notice.pipe, *reinterpret_cast<Stream*>(notice.value));
      break;
    case PN_WRONG_THREAD:
      throw PipeException(kWrongThread);
  }
}

}  // namespace zyp::pipes
