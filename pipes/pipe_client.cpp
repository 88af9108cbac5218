#include "pipes/pipe_client.h"

#include <vector>

#include "pipes/framing.h"
#include "pipes/pipe_messages.h"
#include "pipes/pipe_thread.h"
#include "pipes/thread_sync.h"
#include "platform/ascii_text.h"
#include "platform/win32/message_window.h"
#include "platform/win32/wide_text.h"

namespace zyp::pipes {

namespace {

constexpr std::size_t kMaxPipeName = 256;
constexpr DWORD kComputerNameBuffer = 261;

bool InSentMessage() { return ::InSendMessage() != FALSE; }

}  // namespace

TPipeClient::TPipeClient() {
  // Every user may open what this client creates, and child processes may
  // inherit the pipe and the kill event.
  if (!::InitializeSecurityDescriptor(&security_descriptor_, SECURITY_DESCRIPTOR_REVISION))
    throw win32::LastPlatformError();
  ::SetSecurityDescriptorDacl(&security_descriptor_, TRUE, nullptr, FALSE);
  FSA.nLength = sizeof(FSA);
  FSA.lpSecurityDescriptor = &security_descriptor_;
  FSA.bInheritHandle = TRUE;
  FKillEv.Reset(::CreateEventW(&FSA, TRUE, FALSE, nullptr));
  FBaseThread = ::GetCurrentThreadId();
  FWriteQueue = std::make_unique<TWriteQueue>();
  FHwnd = CreateNotifyWindow([this](MessageRecord& message) { WndProc(message); });
}

TPipeClient::~TPipeClient() {
  destroying_ = true;
  try {
    Disconnect();
  } catch (...) {
    // An event handler's error met during the wait: the message loop reports it.
    win32::KeepDispatchError(std::current_exception());
  }
  FKillEv.Reset();
  FWriteQueue.reset();
  if (FHwnd != nullptr) DestroyNotifyWindow(std::exchange(FHwnd, nullptr));
}

void TPipeClient::CheckNotOpen() const {
  if (Connected() || PipeValid()) throw EPipeException(u"Cannot change property when client is connected!");
}

void TPipeClient::SetPipeName(const std::u16string& value) {
  CheckNotOpen();
  if (value.empty() || value.size() > kMaxPipeName || value.find(u'\\') != std::u16string::npos)
    throw EPipeException(u"Invalid pipe name specified!");
  FPipeName = value;
}

void TPipeClient::SetServerName(const std::u16string& value) {
  CheckNotOpen();
  FServerName = value;
}

bool TPipeClient::Connected() const {
  if (FWorker == nullptr) return false;
  DWORD exitCode = 0;
  return ::GetExitCodeThread(worker_thread_.Get(), &exitCode) && exitCode == STILL_ACTIVE;
}

void TPipeClient::ForgetEndedWorker() {
  if (FWorker != nullptr && !Connected()) WorkerEnded();
}

std::wstring TPipeClient::PipePath() const {
  bool remote = false;
  if (!FServerName.empty()) {
    wchar_t name[kComputerNameBuffer] = {};
    DWORD size = kComputerNameBuffer;
    const std::u16string self = ::GetComputerNameW(name, &size) ? win32::FromWide(name, size) : std::u16string();
    remote = !AsciiEqualIgnoreCase(FServerName, self);
  }
  if (remote) return L"\\\\" + win32::ToWide(FServerName) + L"\\pipe\\" + win32::ToWide(FPipeName);
  return L"\\\\.\\pipe\\" + win32::ToWide(FPipeName);
}

bool TPipeClient::OpenPipe(const std::wstring& path, std::uint32_t waitTime) {
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
    open_pipe_.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &FSA, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr));
    ReportAttempt(open_pipe_ ? ERROR_SUCCESS : ::GetLastError());
    if (open_pipe_) {
      FPipe = open_pipe_.Get();
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

void TPipeClient::ReportAttempt(DWORD error) {
  if (!OnConnectAttempt) return;
  ULONG server = 0;
  if (open_pipe_ && !::GetNamedPipeServerProcessId(open_pipe_.Get(), &server)) server = 0;
  OnConnectAttempt(*this, error, server);
  // The handler may have touched the last error: the caller reads it next.
  ::SetLastError(error);
}

bool TPipeClient::Connect(std::uint32_t WaitTime, bool Start) {
  ForgetEndedWorker();
  if (Connected()) return true;
  if (PipeValid()) {
    if (Start) StartWorker();
  } else if (OpenPipe(PipePath(), WaitTime)) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    ::SetNamedPipeHandleState(FPipe, &mode, nullptr, nullptr);
    if (Start) StartWorker();
  }
  return Connected() || PipeValid();
}

void TPipeClient::StartWorker() {
  std::unique_ptr<TPipeThread> worker;
  try {
    worker = std::make_unique<TPipeThread>(FHwnd, FBaseThread, *FWriteQueue, FPipe, FKillEv.Get());
    worker->OnTerminate = [this](TThreadEx&) { WorkerEnded(); };
    HANDLE thread = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), worker->Handle(), ::GetCurrentProcess(), &thread, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
      throw win32::LastPlatformError();
    worker_thread_.Reset(thread);
    worker_creator_ = worker->Sync().SyncBaseTID();
    FWorker = worker.get();
    worker->Run();
  } catch (...) {
    FWorker = nullptr;
    worker_thread_.Reset();
    worker.reset();
    open_pipe_.Reset();
    FPipe = INVALID_HANDLE_VALUE;
    return;
  }
  // From here the worker owns both itself and the pipe handle.
  worker.release();
  open_pipe_.Release();
}

void TPipeClient::WorkerEnded() {
  FWorker = nullptr;
  worker_thread_.Reset();
  struct Finally {
    TPipeClient& client;
    ~Finally() {
      client.FWriteQueue->DiscardAll();
      client.FPipe = INVALID_HANDLE_VALUE;  // the worker has closed it
    }
  } finally{*this};
  if (!destroying_ && OnPipeDisconnect) OnPipeDisconnect(*this, FPipe);
}

void TPipeClient::Disconnect() {
  ForgetEndedWorker();
  if (Connected() && !FDisconnecting) {
    // The worker waits for this thread right now: waiting for the worker
    // here would block both. Disconnect once the sent message is handled.
    if (InSentMessage()) {
      ::PostMessageW(FHwnd, PN_DISCONNECT, 0, 0);
      return;
    }
    FDisconnecting = true;
    struct Finally {
      TPipeClient& client;
      ~Finally() {
        client.FPipe = INVALID_HANDLE_VALUE;
        client.FDisconnecting = false;
      }
    } finally{*this};
    if (FWorker != nullptr) {
      ::SetEvent(FKillEv.Get());
      // Handles this thread's messages, so the worker's last notices and its
      // end-of-thread handler run during the wait. The worker may free
      // itself meanwhile, so it is waited for by its thread alone.
      TThreadEx::WaitForThread(worker_thread_.Get(), worker_creator_);
      ForgetEndedWorker();
    }
  } else if (open_pipe_) {
    // Only a pipe that no worker owns is closed here.
    open_pipe_.Reset();
    FPipe = INVALID_HANDLE_VALUE;
  }
}

void TPipeClient::FlushPipeBuffers() {
  if (InSentMessage()) return;
  while (Connected()) {
    HANDLE empty = FWriteQueue->EmptyEvent();
    const DWORD result = ::MsgWaitForMultipleObjectsEx(1, &empty, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0) return;
    if (result == WAIT_OBJECT_0 + 1) PumpMessages();
  }
}

bool TPipeClient::WaitForReply(std::uint32_t TimeOut) {
  FReply = false;
  if (InSentMessage()) return false;
  const DWORD start = ::GetTickCount();
  while (!FReply && Connected()) {
    if (TimeOut != INFINITE && ::GetTickCount() - start >= TimeOut) break;
    MSG msg;
    if (::PeekMessageW(&msg, nullptr, kReplyRangeFirst, kReplyRangeLast, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    // The worker's notices run inside PeekMessageW.
    win32::RethrowDispatchError();
  }
  return FReply;
}

bool TPipeClient::Throttled() const { return FThrottle != 0 && FWriteQueue->DataSize() > FThrottle && Connected(); }

bool TPipeClient::Write(const void* Buffer, std::int32_t Count) {
  // Tested before queuing: one write may take the queue past the throttle.
  if (Throttled()) FlushPipeBuffers();
  if (!Connected()) return false;
  FWriteQueue->Enqueue(NewPipeWrite(Buffer, Count));
  return true;
}

bool TPipeClient::Write(const void* Prefix, std::int32_t PrefixCount, const void* Buffer, std::int32_t Count) {
  if (Throttled()) FlushPipeBuffers();
  if (!Connected()) return false;
  FWriteQueue->Enqueue(NewPrefixedPipeWrite(Prefix, PrefixCount, Buffer, Count));
  return true;
}

bool TPipeClient::SendStream(TStream* Stream) {
  if (Stream == nullptr || !Connected()) return false;
  FWriteQueue->EnqueueStartPacket();
  bool failed = false;
  try {
    std::vector<std::uint8_t> buffer(kMaxPipeWrite);
    Stream->SetPosition(0);
    std::size_t read = Stream->Read(buffer.data(), buffer.size());
    while (read > 0 && !failed) {
      if (Write(buffer.data(), static_cast<std::int32_t>(read)))
        read = Stream->Read(buffer.data(), buffer.size());
      else
        failed = true;
    }
  } catch (...) {
    // The end packet comes also now, so the server never appends a later
    // message to this one; the first error is the one reported.
    try {
      FWriteQueue->EnqueueEndPacket();
      FlushPipeBuffers();
    } catch (...) {
    }
    throw;
  }
  FWriteQueue->EnqueueEndPacket();
  FlushPipeBuffers();
  return !failed;
}

void TPipeClient::WndProc(MessageRecord& message) {
  const auto pipe = reinterpret_cast<HANDLE>(message.WParam);
  switch (message.Msg) {
    case PN_ERROR:
      if (OnPipeError) OnPipeError(*this, pipe, TPipeContext::pcWorker, static_cast<std::int32_t>(message.LParam));
      break;
    case PN_SENT:
      if (OnPipeSent) OnPipeSent(*this, pipe, static_cast<std::uint32_t>(message.LParam));
      break;
    case PN_MESSAGE:
      FReply = true;
      if (OnPipeMessage) OnPipeMessage(*this, pipe, *reinterpret_cast<TStream*>(message.LParam));
      break;
    case PN_WRONG_THREAD:
      throw EPipeException(u"The notify window and the component window do not exist in the same thread!");
    case PN_DISCONNECT:
      Disconnect();
      break;
    default:
      message.Result = ::DefWindowProcW(FHwnd, message.Msg, message.WParam, message.LParam);
      return;
  }
  message.Result = 0;
}

}  // namespace zyp::pipes
