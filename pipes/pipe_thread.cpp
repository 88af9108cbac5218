#include "pipes/pipe_thread.h"

#include <span>
#include <utility>

#include "pipes/framing.h"
#include "pipes/pipe_messages.h"
#include "platform/win32/wide_text.h"

namespace zyp::pipes {

namespace {

constexpr std::uint32_t kReadBufferSize = kMaxPipeWrite;
// How long a write already issued may take to complete once the worker is
// told to stop.
constexpr DWORD kStopGraceMs = 100;
// How long a flush may go on waiting for the server once the worker is told
// to stop.
constexpr DWORD kFlushGraceMs = 500;
constexpr DWORD kCancelRetryMs = 10;

class FlushLock {
 public:
  explicit FlushLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~FlushLock() { ::ReleaseSRWLockExclusive(&lock_); }
  FlushLock(const FlushLock&) = delete;
  FlushLock& operator=(const FlushLock&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace

TPipeThread::TPipeThread(HWND notifyWindow, DWORD notifyThread, TWriteQueue& writeQueue, HANDLE pipe, HANDLE killEvent)
    : FNotify(notifyWindow),
      FNotifyThread(notifyThread),
      FPipe(pipe),
      FWriteQueue(writeQueue),
      FRcvBuffer(std::make_unique<std::uint8_t[]>(kReadBufferSize)),
      FRcvAlloc(kReadBufferSize),
      FRcvSize(kReadBufferSize) {
  ClearOverlapped(FOlapRead, true);
  ClearOverlapped(FOlapWrite, true);
  read_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  write_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_event_ || !write_event_) throw win32::LastPlatformError();
  FOlapRead.hEvent = read_event_.Get();
  FOlapWrite.hEvent = write_event_.Get();
  ::ResetEvent(killEvent);
  FEvents[0] = killEvent;
  FEvents[1] = read_event_.Get();
  FEvents[2] = write_event_.Get();
  FEvents[3] = FWriteQueue.DataEvent();
  SetFreeOnTerminate(true);
  SetPriority(THREAD_PRIORITY_BELOW_NORMAL);
}

TPipeThread::~TPipeThread() = default;

void TPipeThread::Execute() {
  // Runs however the loop ends, an exception included.
  struct CleanUp {
    TPipeThread& worker;
    ~CleanUp() { worker.FinishCleanUp(); }
  } cleanUp{*this};

  if (Sync().SyncBaseTID() != FNotifyThread) {
    ::PostMessageW(FNotify, PN_WRONG_THREAD, 0, 0);
    return;
  }
  if (!::RegisterWaitForSingleObject(&kill_wait_, FEvents[0], &TPipeThread::OnKill, this, INFINITE,
                                     WT_EXECUTEONLYONCE | WT_EXECUTELONGFUNCTION))
    kill_wait_ = nullptr;  // flushes then wait for the server, as they would anyway

  while (!Terminated()) {
    bool ok = IssueReads();
    if (ok) ok = IssueWrite();
    ::Sleep(0);
    if (ok) {
      // New data is not watched while a write is on its way.
      const DWORD count = FPendingWrite ? 3 : 4;
      const DWORD served = ::WaitForMultipleObjects(count, FEvents, FALSE, INFINITE);
      if (served == WAIT_OBJECT_0) {
        try {
          if (FPendingWrite && ::WaitForSingleObject(FEvents[2], kStopGraceMs) == WAIT_OBJECT_0) FinishWrite();
          if (FPendingRead && ::WaitForSingleObject(FEvents[1], kStopGraceMs) == WAIT_OBJECT_0) FinishRead();
        } catch (...) {
          Terminate();
          throw;
        }
        Terminate();
      } else if (served == WAIT_OBJECT_0 + 1) {
        ok = FinishRead();
      } else if (served == WAIT_OBJECT_0 + 2) {
        ok = FinishWrite();
      } else if (served == WAIT_OBJECT_0 + 3) {
        // The next iteration starts the write.
      } else {
        FErrorCode = static_cast<std::int32_t>(::GetLastError());
        ok = false;
      }
    }
    if (!ok) {
      // A server that closed its end is no error: the disconnect tells it.
      if (FErrorCode != ERROR_BROKEN_PIPE)
        NotifyOwner(PN_ERROR, reinterpret_cast<WPARAM>(FPipe), static_cast<LPARAM>(FErrorCode));
      Terminate();
    }
  }
}

void TPipeThread::ClearOverlapped(OVERLAPPED& record, bool whole) {
  const HANDLE event = record.hEvent;
  record = OVERLAPPED{};
  if (!whole) record.hEvent = event;
}

void TPipeThread::AppendReceived(DWORD count) { FRcvStream.Write(FRcvBuffer.get(), count); }

bool TPipeThread::ReadBytesLeft() {
  DWORD left = 0;
  if (!::PeekNamedPipe(FPipe, nullptr, 0, nullptr, nullptr, &left)) {
    FErrorCode = static_cast<std::int32_t>(::GetLastError());
    return false;
  }
  FRcvSize = left;
  if (FRcvSize > FRcvAlloc) {
    // The start of the message is already in the receive stream.
    FRcvBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(FRcvSize);
    FRcvAlloc = FRcvSize;
  }
  return true;
}

bool TPipeThread::IssueReads() {
  if (FPendingRead) return true;
  FRcvSize = FRcvAlloc;
  while (!FPendingRead) {
    ClearOverlapped(FOlapRead, false);
    DWORD read = 0;
    if (::ReadFile(FPipe, FRcvBuffer.get(), FRcvSize, &read, &FOlapRead)) {
      FRcvRead = read;
      try {
        ReceiveLastPart();
      } catch (...) {
        ::ResetEvent(FEvents[1]);
        throw;
      }
      ::ResetEvent(FEvents[1]);
      continue;
    }
    FErrorCode = static_cast<std::int32_t>(::GetLastError());
    if (FErrorCode == ERROR_MORE_DATA) {
      // The buffer holds the first FRcvSize bytes; fetch the rest next.
      AppendReceived(FRcvSize);
      if (!ReadBytesLeft()) return false;
    } else if (FErrorCode == ERROR_IO_PENDING) {
      FPendingRead = true;
    } else {
      return false;
    }
  }
  return true;
}

bool TPipeThread::FinishRead() {
  ::ResetEvent(FEvents[1]);
  FPendingRead = false;
  DWORD read = 0;
  if (!::GetOverlappedResult(FPipe, &FOlapRead, &read, TRUE)) {
    FErrorCode = static_cast<std::int32_t>(::GetLastError());
    if (FErrorCode != ERROR_MORE_DATA) return false;
    AppendReceived(FRcvSize);
    if (!ReadBytesLeft()) return false;
    ClearOverlapped(FOlapRead, false);
    if (!::ReadFile(FPipe, FRcvBuffer.get(), FRcvSize, &read, &FOlapRead)) {
      FErrorCode = static_cast<std::int32_t>(::GetLastError());
      if (FErrorCode != ERROR_IO_PENDING) return false;
      FPendingRead = true;
      return true;
    }
  }
  FRcvRead = read;
  ReceiveLastPart();
  return true;
}

void TPipeThread::ReceiveLastPart() {
  const std::span<const std::uint8_t> part(FRcvBuffer.get(), FRcvRead);
  // A message that came with one read and goes into an open multi-packet
  // message, or is a control packet, is handled straight from the read
  // buffer: collecting it first would reserve and release a block of twice
  // its size for every piece of a long message.
  if (FRcvStream.Size() == 0 && ClassifyMessage(part, FMultiMsg != nullptr) != ReceiveStep::DeliverAlone) {
    HandleMessage(part);
    return;
  }
  AppendReceived(FRcvRead);
  HandleReceived();
}

void TPipeThread::HandleReceived() {
  FRcvStream.SetPosition(0);
  try {
    HandleMessage(std::span<const std::uint8_t>(FRcvStream.Data(), static_cast<std::size_t>(FRcvStream.Size())));
  } catch (...) {
    FRcvStream.Clear();
    throw;
  }
  FRcvStream.Clear();
}

void TPipeThread::HandleMessage(std::span<const std::uint8_t> message) {
  switch (ClassifyMessage(message, FMultiMsg != nullptr)) {
    case ReceiveStep::BeginNew:
      FMultiMsg.reset();
      FMultiMsg = std::make_unique<TPipeMultiMsg>();
      break;
    case ReceiveStep::DeliverOpen: {
      // Dropped also when the notice raised: the message is over.
      const std::unique_ptr<TPipeMultiMsg> done = std::move(FMultiMsg);
      done->Stream().SetPosition(0);
      NotifyOwner(PN_MESSAGE, reinterpret_cast<WPARAM>(FPipe), reinterpret_cast<LPARAM>(&done->Stream()));
      break;
    }
    case ReceiveStep::DropOpen:
      FMultiMsg.reset();
      break;
    case ReceiveStep::Ignore:
      break;
    case ReceiveStep::AppendToOpen:
      FMultiMsg->Stream().Write(message.data(), message.size());
      break;
    case ReceiveStep::DeliverAlone:
      // Only ever a message collected in the receive stream.
      FRcvStream.SetPosition(0);
      NotifyOwner(PN_MESSAGE, reinterpret_cast<WPARAM>(FPipe),
                  reinterpret_cast<LPARAM>(static_cast<TStream*>(&FRcvStream)));
      break;
  }
}

bool TPipeThread::IssueWrite() {
  if (FPendingWrite) return true;
  if (::WaitForSingleObject(FWriteQueue.DataEvent(), 0) != WAIT_OBJECT_0) return true;
  FPipeWrite = FWriteQueue.Dequeue();
  if (!FPipeWrite) return true;
  ClearOverlapped(FOlapWrite, false);
  static const std::uint8_t kNothing = 0;
  const void* bytes = FPipeWrite->Count > 0 ? FPipeWrite->Buffer.get() : &kNothing;
  DWORD written = 0;
  const BOOL done = ::WriteFile(FPipe, bytes, static_cast<DWORD>(FPipeWrite->Count), &written, &FOlapWrite);
  FErrorCode = static_cast<std::int32_t>(::GetLastError());
  if (done) {
    FWrite = written;
    FWriteQueue.MarkWritten();
    try {
      ReportWrite();
      FreePipeWrite(FPipeWrite);
    } catch (...) {
      ::ResetEvent(FEvents[2]);
      throw;
    }
    ::ResetEvent(FEvents[2]);
    return true;
  }
  if (FErrorCode == ERROR_IO_PENDING) {
    FPendingWrite = true;
    return true;
  }
  return false;  // the write stays with the worker and goes with it
}

bool TPipeThread::FinishWrite() {
  ::ResetEvent(FEvents[2]);
  DWORD written = 0;
  const BOOL done = ::GetOverlappedResult(FPipe, &FOlapWrite, &written, TRUE);
  try {
    if (done) {
      FWrite = written;
      FWriteQueue.MarkWritten();
      ReportWrite();
    } else {
      FErrorCode = static_cast<std::int32_t>(::GetLastError());
    }
  } catch (...) {
    FreePipeWrite(FPipeWrite);
    FPendingWrite = false;
    throw;
  }
  FreePipeWrite(FPipeWrite);
  FPendingWrite = false;
  return done != FALSE;
}

void TPipeThread::ReportWrite() {
  // The notice means that the server has read the write: a flush that
  // failed (the server went without reading) or was given up reports
  // nothing.
  if (Flush()) NotifyOwner(PN_SENT, reinterpret_cast<WPARAM>(FPipe), static_cast<LPARAM>(FWrite));
}

bool TPipeThread::Flush() {
  {
    FlushLock lock(flush_lock_);
    if (flush_stopped_) return false;
    in_flush_ = true;
  }
  const BOOL flushed = ::FlushFileBuffers(FPipe);
  FlushLock lock(flush_lock_);
  in_flush_ = false;
  ::WakeAllConditionVariable(&flush_changed_);
  return flushed != FALSE;
}

void CALLBACK TPipeThread::OnKill(void* parameter, BOOLEAN) {
  auto* worker = static_cast<TPipeThread*>(parameter);
  FlushLock lock(worker->flush_lock_);
  // A server that reads gets the grace period to take what is in the pipe.
  const DWORD start = ::GetTickCount();
  while (!worker->ended_) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= kFlushGraceMs) break;
    ::SleepConditionVariableSRW(&worker->flush_changed_, &worker->flush_lock_, kFlushGraceMs - elapsed, 0);
  }
  worker->flush_stopped_ = true;
  // The worker may be just entering the flush when the first cancel comes:
  // cancel until it has left it. The pipe stays open while it is inside.
  while (worker->in_flush_) {
    ::CancelIoEx(worker->FPipe, nullptr);
    ::SleepConditionVariableSRW(&worker->flush_changed_, &worker->flush_lock_, kCancelRetryMs, 0);
  }
}

void TPipeThread::ClosePipeHandle() {
  const bool valid = FPipe != nullptr && FPipe != INVALID_HANDLE_VALUE;
  if (valid) {
    ::CancelIo(FPipe);
    // The system may write into the records and buffers until the cancelled
    // requests have completed.
    DWORD ignored = 0;
    if (FPendingRead) ::GetOverlappedResult(FPipe, &FOlapRead, &ignored, TRUE);
    // A write that completed before the cancel reached it is in the pipe.
    if (FPendingWrite && ::GetOverlappedResult(FPipe, &FOlapWrite, &ignored, TRUE)) FWriteQueue.MarkWritten();
    FPendingRead = false;
    FPendingWrite = false;
    Flush();
  }
  {
    FlushLock lock(flush_lock_);
    ended_ = true;
    ::WakeAllConditionVariable(&flush_changed_);
  }
  // Waits for a running kill callback, which may still use the handle.
  if (kill_wait_ != nullptr) ::UnregisterWaitEx(std::exchange(kill_wait_, nullptr), INVALID_HANDLE_VALUE);
  if (valid) win32::UniqueHandle(std::exchange(FPipe, INVALID_HANDLE_VALUE)).Reset();
}

void TPipeThread::FinishCleanUp() {
  ClosePipeHandle();
  read_event_.Reset();
  write_event_.Reset();
}

void TPipeThread::NotifyOwner(UINT message, WPARAM wParam, LPARAM lParam) {
  if (::IsWindow(FNotify)) ::SendMessageW(FNotify, message, wParam, lParam);
}

}  // namespace zyp::pipes
