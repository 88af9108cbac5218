#include "pipes/pipe_thread.h"

#include <algorithm>
#include <span>
#include <utility>

#include "pipes/framing.h"
#include "pipes/pipe_messages.h"
#include "platform/win32/wide_text.h"

namespace zyp::pipes {

namespace {

constexpr std::uint32_t kReadBufferSize = kMaxPipeWrite;
// How long a write or read already issued may take to complete once the
// worker is told to stop.
constexpr DWORD kStopGraceMs = 100;

}  // namespace

TPipeThread::TPipeThread(HWND notifyWindow, DWORD notifyThread, std::shared_ptr<PipeLink> link, HANDLE pipe,
                         bool collect)
    : FNotify(notifyWindow),
      FNotifyThread(notifyThread),
      link_(std::move(link)),
      FPipe(pipe),
      collect_(collect),
      FWriteQueue(link_->queue),
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
  ::ResetEvent(link_->kill.Get());
  link_->flushes.Open();
  FEvents[0] = link_->kill.Get();
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
    const NoticeBox::Tag tag = link_->notices.Arm({PN_WRONG_THREAD, nullptr, 0});
    ::PostMessageW(FNotify, PN_WRONG_THREAD, tag.wParam, tag.lParam);
    return;
  }

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
          // A reply that nobody would receive is not waited for.
          if (collect_ && FPendingRead && ::WaitForSingleObject(FEvents[1], kStopGraceMs) == WAIT_OBJECT_0)
            FinishRead();
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
      // Neither is a read that the stop's cancel of a flush took with it.
      const bool stopped = FErrorCode == ERROR_OPERATION_ABORTED && link_->flushes.Cancelled();
      if (FErrorCode != ERROR_BROKEN_PIPE && !stopped) NotifyOwner(PN_ERROR, static_cast<LPARAM>(FErrorCode));
      Terminate();
    }
  }
}

void TPipeThread::ClearOverlapped(OVERLAPPED& record, bool whole) {
  const HANDLE event = record.hEvent;
  record = OVERLAPPED{};
  if (!whole) record.hEvent = event;
}

bool TPipeThread::Killed() const { return ::WaitForSingleObject(FEvents[0], 0) == WAIT_OBJECT_0; }

bool TPipeThread::IssueReads() {
  if (FPendingRead) return true;
  FRcvSize = FRcvAlloc;
  while (!FPendingRead) {
    // A server that keeps the pipe full completes every read at once: the
    // stop is looked for between reads, or it would never be seen.
    if (Killed()) return true;
    ClearOverlapped(FOlapRead, false);
    DWORD read = 0;
    if (::ReadFile(FPipe, FRcvBuffer.get(), FRcvSize, &read, &FOlapRead)) {
      try {
        TakeRead(read, true);
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
      if (!TakeRead(FRcvSize, false)) return false;
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
  if (::GetOverlappedResult(FPipe, &FOlapRead, &read, TRUE)) {
    FRcvRead = read;
    return TakeRead(read, true);
  }
  FErrorCode = static_cast<std::int32_t>(::GetLastError());
  if (FErrorCode != ERROR_MORE_DATA) return false;
  // The next IssueReads fetches the rest, looking for the stop first.
  return TakeRead(FRcvSize, false);
}

bool TPipeThread::TakeRead(DWORD count, bool whole) {
  const std::span<const std::uint8_t> part(FRcvBuffer.get(), count);
  if (message_read_ == 0 && whole) {
    HandleMessage(part);
    return true;
  }
  if (message_read_ == 0) {
    // The first part of a longer message: data, never a control packet.
    message_to_open_ = multi_open_;
    message_kept_ = collect_ && !message_to_open_;
    message_dropped_ = false;
  }
  message_read_ += count;
  if (message_to_open_)
    AppendToOpen(part);
  else if (message_kept_)
    FRcvStream.Write(part.data(), part.size());
  if (whole) {
    FinishLongMessage();
    return true;
  }
  DWORD left = 0;
  if (!::PeekNamedPipe(FPipe, nullptr, 0, nullptr, nullptr, &left)) {
    FErrorCode = static_cast<std::int32_t>(::GetLastError());
    return false;
  }
  if (!message_to_open_ && message_read_ + left > kMaxMessageSize) {
    // Too long to be kept: the rest goes through the buffer as it is.
    message_dropped_ = true;
    message_kept_ = false;
    FRcvStream.Clear();
  }
  if (message_kept_ && left > FRcvAlloc) {
    // The start of the message is already in the receive stream.
    FRcvBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(left);
    FRcvAlloc = left;
  }
  FRcvSize = FRcvAlloc;
  return true;
}

void TPipeThread::FinishLongMessage() {
  message_read_ = 0;
  if (message_to_open_ || message_dropped_) return;
  if (!message_kept_) {
    Deliver(nullptr);
    return;
  }
  message_kept_ = false;
  DeliverReceived();
}

void TPipeThread::DeliverReceived() {
  FRcvStream.SetPosition(0);
  try {
    Deliver(&FRcvStream);
  } catch (...) {
    FRcvStream.Clear();
    throw;
  }
  FRcvStream.Clear();
}

void TPipeThread::HandleMessage(std::span<const std::uint8_t> message) {
  switch (ClassifyMessage(message, multi_open_)) {
    case ReceiveStep::BeginNew:
      FMultiMsg.reset();
      multi_open_ = true;
      multi_size_ = 0;
      if (collect_) FMultiMsg = std::make_unique<TPipeMultiMsg>();
      break;
    case ReceiveStep::DeliverOpen: {
      // Dropped also when the notice raised: the message is over.
      const std::unique_ptr<TPipeMultiMsg> done = std::move(FMultiMsg);
      const bool dropped = multi_size_ > kMaxMessageSize;
      multi_open_ = false;
      if (dropped) break;
      if (done) done->Stream().SetPosition(0);
      Deliver(done ? &done->Stream() : nullptr);
      break;
    }
    case ReceiveStep::DropOpen:
      FMultiMsg.reset();
      multi_open_ = false;
      break;
    case ReceiveStep::Ignore:
      break;
    case ReceiveStep::AppendToOpen:
      AppendToOpen(message);
      break;
    case ReceiveStep::DeliverAlone:
      if (!collect_) {
        Deliver(nullptr);
        break;
      }
      FRcvStream.Write(message.data(), message.size());
      DeliverReceived();
      break;
  }
}

void TPipeThread::AppendToOpen(std::span<const std::uint8_t> bytes) {
  if (multi_size_ > kMaxMessageSize) return;
  multi_size_ += bytes.size();
  if (multi_size_ > kMaxMessageSize) {
    // Too long: what was collected goes now, the rest is not written.
    FMultiMsg.reset();
    return;
  }
  if (FMultiMsg) FMultiMsg->Stream().Write(bytes.data(), bytes.size());
}

void TPipeThread::Deliver(TStream* stream) { NotifyOwner(PN_MESSAGE, reinterpret_cast<LPARAM>(stream)); }

bool TPipeThread::IssueWrite() {
  // A worker told to stop starts no new write.
  if (FPendingWrite || Killed()) return true;
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
  if (link_->flushes.Flush(FPipe)) NotifyOwner(PN_SENT, static_cast<LPARAM>(FWrite));
}

void TPipeThread::ClosePipeHandle() {
  if (FPipe == nullptr || FPipe == INVALID_HANDLE_VALUE) return;
  ::CancelIo(FPipe);
  // The system may write into the records and buffers until the cancelled
  // requests have completed.
  DWORD ignored = 0;
  if (FPendingRead) ::GetOverlappedResult(FPipe, &FOlapRead, &ignored, TRUE);
  // A write that completed before the cancel reached it is in the pipe.
  if (FPendingWrite && ::GetOverlappedResult(FPipe, &FOlapWrite, &ignored, TRUE)) FWriteQueue.MarkWritten();
  FPendingRead = false;
  FPendingWrite = false;
  link_->flushes.Flush(FPipe);
  win32::UniqueHandle(std::exchange(FPipe, INVALID_HANDLE_VALUE)).Reset();
}

void TPipeThread::FinishCleanUp() {
  ClosePipeHandle();
  read_event_.Reset();
  write_event_.Reset();
}

void TPipeThread::NotifyOwner(UINT message, LPARAM value) {
  if (!::IsWindow(FNotify)) return;
  // The message only carries the tag; the client takes the notice from the
  // box while this thread waits here.
  const NoticeBox::Tag tag = link_->notices.Arm({message, FPipe, value});
  ::SendMessageW(FNotify, message, tag.wParam, tag.lParam);
  link_->notices.Disarm();
}

}  // namespace zyp::pipes
