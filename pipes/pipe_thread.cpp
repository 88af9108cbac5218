#include "pipes/pipe_thread.h"

#include <span>
#include <utility>

#include "pipes/framing.h"
#include "pipes/pipe_messages.h"
#include "platform/scope_exit.h"
#include "platform/win32/check.h"

namespace zyp::pipes {

namespace {

constexpr DWORD kReadBufferSize = kMaxPipeWrite;
// How long a write or read already issued may take to complete once the
// worker is told to stop.
constexpr DWORD kStopGraceMs = 100;

win32::UniqueHandle NewManualResetEvent() {
  win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  win32::ThrowLastErrorIf(!event, "CreateEventW");
  return event;
}

// The worker's own events: setting or resetting one fails only for a handle
// that is not an event, which they never are.
void Clear(const win32::UniqueHandle& event) { ::ResetEvent(event.Get()); }

bool Signalled(HANDLE event, DWORD timeoutMs = 0) { return ::WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0; }

// A fresh record for the next request of a direction, on the same event.
void Renew(OVERLAPPED& overlapped) {
  const HANDLE event = overlapped.hEvent;
  overlapped = OVERLAPPED{};
  overlapped.hEvent = event;
}

}  // namespace

PipeThread::PipeThread(HWND notifyWindow, DWORD notifyThread, std::shared_ptr<PipeLink> link, win32::UniqueHandle pipe,
                       bool collect)
    : notify_window_(notifyWindow),
      notify_thread_(notifyThread),
      creating_thread_(::GetCurrentThreadId()),
      link_(std::move(link)),
      queue_(link_->queue),
      pipe_(std::move(pipe)),
      collect_(collect) {
  read_.done = NewManualResetEvent();
  read_.overlapped.hEvent = read_.done.Get();
  read_.buffer = std::make_unique<std::uint8_t[]>(kReadBufferSize);
  read_.capacity = kReadBufferSize;
  write_.done = NewManualResetEvent();
  write_.overlapped.hEvent = write_.done.Get();
  // The kill event and the gate are the client's and serve every worker.
  Clear(link_->kill);
  link_->flushes.Open();
}

PipeThread::~PipeThread() = default;

void PipeThread::Execute() {
  // However the work ends, an exception included.
  const ScopeExit finish([this] { FinishWork(); });

  if (creating_thread_ != notify_thread_) {
    const NoticeBox::Tag tag = link_->notices.Arm({PN_WRONG_THREAD, nullptr, 0});
    // A post that fails leaves the refusal unreported; the worker ends all
    // the same and the client finds it gone.
    ::PostMessageW(notify_window_, PN_WRONG_THREAD, tag.w_param, tag.l_param);
    return;
  }

  while (!Terminated()) {
    bool ok = StartReads() && StartWrite();
    // Lets other threads of the worker's priority run between rounds.
    ::Sleep(0);
    if (ok) {
      switch (WaitForWork()) {
        case Wake::kStop:
          FinishForStop();
          Terminate();
          break;
        case Wake::kReadDone:
          ok = FinishRead();
          break;
        case Wake::kWriteDone:
          ok = FinishWrite();
          break;
        case Wake::kQueued:
          // The next round starts the write.
          break;
        case Wake::kFailed:
          ok = false;
          break;
      }
    }
    if (!ok) {
      ReportFailure();
      Terminate();
    }
  }
}

PipeThread::Wake PipeThread::WaitForWork() {
  HANDLE slots[kWaitSlots];
  slots[Slot(Wake::kStop)] = link_->kill.Get();
  slots[Slot(Wake::kReadDone)] = read_.done.Get();
  slots[Slot(Wake::kWriteDone)] = write_.done.Get();
  slots[Slot(Wake::kQueued)] = queue_.DataEvent();
  // New data is not watched while a write is on its way: its slot is the
  // last, so the wait can leave it out.
  const DWORD count = write_.pending ? Slot(Wake::kQueued) : kWaitSlots;
  const DWORD woken = ::WaitForMultipleObjects(count, slots, FALSE, INFINITE);
  if (woken - WAIT_OBJECT_0 < count) return static_cast<Wake>(woken - WAIT_OBJECT_0);
  error_ = ::GetLastError();
  return Wake::kFailed;
}

bool PipeThread::Stopping() const { return Signalled(link_->kill.Get()); }

void PipeThread::FinishForStop() {
  // Their results do not matter any more: the worker ends either way.
  if (write_.pending && Signalled(write_.done.Get(), kStopGraceMs)) FinishWrite();
  // A reply that nobody would receive is not waited for.
  if (collect_ && read_.pending && Signalled(read_.done.Get(), kStopGraceMs)) FinishRead();
}

void PipeThread::ReportFailure() {
  // A server that closed its end is no error: the disconnect tells it.
  // Neither is a read that the stop's cancel of a flush took with it.
  const bool stopped = error_ == ERROR_OPERATION_ABORTED && link_->flushes.Cancelled();
  if (error_ != ERROR_BROKEN_PIPE && !stopped) NotifyOwner(PN_ERROR, static_cast<LPARAM>(error_));
}

// ------------------------------------------------------------------ reading

bool PipeThread::StartReads() {
  while (!read_.pending) {
    // A server that keeps the pipe full completes every read at once: the
    // stop is looked for between reads, or it would never be seen.
    if (Stopping()) return true;
    Renew(read_.overlapped);
    DWORD count = 0;
    if (::ReadFile(pipe_.Get(), read_.buffer.get(), read_.capacity, &count, &read_.overlapped)) {
      // Done at once; the event was set all the same.
      const ScopeExit clear([this] { Clear(read_.done); });
      TakeRead(count, true);
      continue;
    }
    error_ = ::GetLastError();
    if (error_ == ERROR_IO_PENDING) {
      read_.pending = true;
    } else if (error_ == ERROR_MORE_DATA) {
      // The buffer holds the message's first part; the next read fetches the rest.
      if (!TakeRead(read_.capacity, false)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool PipeThread::FinishRead() {
  Clear(read_.done);
  read_.pending = false;
  DWORD count = 0;
  if (::GetOverlappedResult(pipe_.Get(), &read_.overlapped, &count, TRUE)) return TakeRead(count, true);
  error_ = ::GetLastError();
  if (error_ != ERROR_MORE_DATA) return false;
  // The next StartReads fetches the rest, looking for the stop first.
  return TakeRead(read_.capacity, false);
}

bool PipeThread::TakeRead(DWORD count, bool whole) {
  const std::span<const std::uint8_t> part(read_.buffer.get(), count);
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
    received_.Write(part.data(), part.size());
  if (whole) {
    FinishLongMessage();
    return true;
  }
  DWORD left = 0;
  if (!::PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, nullptr, &left)) {
    error_ = ::GetLastError();
    return false;
  }
  if (!message_to_open_ && message_read_ + left > kMaxMessageSize) {
    // Too long to be kept: the rest goes through the buffer as it is.
    message_dropped_ = true;
    message_kept_ = false;
    received_.Clear();
  }
  if (message_kept_ && left > read_.capacity) {
    // The start of the message is already in the receive stream.
    read_.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(left);
    read_.capacity = left;
  }
  return true;
}

void PipeThread::FinishLongMessage() {
  message_read_ = 0;
  if (message_to_open_ || message_dropped_) return;
  if (!message_kept_) {
    Deliver(nullptr);
    return;
  }
  message_kept_ = false;
  DeliverReceived();
}

void PipeThread::DeliverReceived() {
  const ScopeExit clear([this] { received_.Clear(); });
  received_.SetPosition(0);
  Deliver(&received_);
}

void PipeThread::HandleMessage(std::span<const std::uint8_t> message) {
  switch (ClassifyMessage(message, multi_open_)) {
    case ReceiveStep::BeginNew:
      multi_msg_.reset();
      multi_open_ = true;
      multi_size_ = 0;
      if (collect_) multi_msg_ = std::make_unique<PipeMultiMsg>();
      break;
    case ReceiveStep::DeliverOpen: {
      // Dropped also when the notice raised: the message is over.
      const std::unique_ptr<PipeMultiMsg> done = std::move(multi_msg_);
      const bool dropped = multi_size_ > kMaxMessageSize;
      multi_open_ = false;
      if (dropped) break;
      if (done) done->MessageStream().SetPosition(0);
      Deliver(done ? &done->MessageStream() : nullptr);
      break;
    }
    case ReceiveStep::DropOpen:
      multi_msg_.reset();
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
      received_.Write(message.data(), message.size());
      DeliverReceived();
      break;
  }
}

void PipeThread::AppendToOpen(std::span<const std::uint8_t> bytes) {
  if (multi_size_ > kMaxMessageSize) return;
  multi_size_ += bytes.size();
  if (multi_size_ > kMaxMessageSize) {
    // Too long: what was collected goes now, the rest is not written.
    multi_msg_.reset();
    return;
  }
  if (multi_msg_) multi_msg_->MessageStream().Write(bytes.data(), bytes.size());
}

void PipeThread::Deliver(Stream* stream) { NotifyOwner(PN_MESSAGE, reinterpret_cast<LPARAM>(stream)); }

// ------------------------------------------------------------------ writing

bool PipeThread::StartWrite() {
  // A worker told to stop starts no new write.
  if (write_.pending || Stopping()) return true;
  if (!Signalled(queue_.DataEvent())) return true;
  write_.entry = queue_.Dequeue();
  if (!write_.entry) return true;
  Renew(write_.overlapped);
  static const std::uint8_t kNothing = 0;
  const void* bytes = write_.entry->count > 0 ? write_.entry->buffer.get() : &kNothing;
  DWORD written = 0;
  if (::WriteFile(pipe_.Get(), bytes, static_cast<DWORD>(write_.entry->count), &written, &write_.overlapped)) {
    // Done at once; the event was set all the same.
    const ScopeExit clear([this] { Clear(write_.done); });
    queue_.MarkWritten();
    ReportWrite(written);
    write_.entry.reset();
    return true;
  }
  error_ = ::GetLastError();
  if (error_ != ERROR_IO_PENDING) return false;  // the entry stays with the worker and goes with it
  write_.pending = true;
  return true;
}

bool PipeThread::FinishWrite() {
  Clear(write_.done);
  // The request is over whatever the report does.
  const ScopeExit over([this] {
    write_.entry.reset();
    write_.pending = false;
  });
  DWORD written = 0;
  if (!::GetOverlappedResult(pipe_.Get(), &write_.overlapped, &written, TRUE)) {
    error_ = ::GetLastError();
    return false;
  }
  queue_.MarkWritten();
  ReportWrite(written);
  return true;
}

void PipeThread::ReportWrite(DWORD written) {
  // The notice means that the server has read the write: a flush that
  // failed (the server went without reading) or was given up reports
  // nothing.
  if (link_->flushes.Flush(pipe_.Get())) NotifyOwner(PN_SENT, static_cast<LPARAM>(written));
}

// ------------------------------------------------------------------ the end

void PipeThread::FinishWork() {
  ClosePipe();
  // The client may hold this object a while longer: a message still open,
  // with its temporary file, and a grown buffer go now.
  multi_msg_.reset();
  received_.Clear();
  read_.buffer.reset();
}

void PipeThread::ClosePipe() {
  if (!pipe_) return;
  // Fails only when nothing was under way; the waits below settle either way.
  ::CancelIo(pipe_.Get());
  // The system may write into the records and buffers until the cancelled
  // requests have completed: each wait returns once it has, whatever the
  // request's result.
  DWORD ignored = 0;
  if (read_.pending) ::GetOverlappedResult(pipe_.Get(), &read_.overlapped, &ignored, TRUE);
  // A write that completed before the cancel reached it is in the pipe.
  if (write_.pending && ::GetOverlappedResult(pipe_.Get(), &write_.overlapped, &ignored, TRUE)) queue_.MarkWritten();
  read_.pending = false;
  write_.pending = false;
  // Lets a server that reads take what is in the pipe before it is closed;
  // whether it did, nobody is told any more.
  link_->flushes.Flush(pipe_.Get());
  pipe_.Reset();
}

void PipeThread::NotifyOwner(UINT message, LPARAM value) {
  if (!::IsWindow(notify_window_)) return;
  // The message only carries the tag; the client takes the notice from the
  // box while this thread waits here. Its result is the client's 0.
  const NoticeBox::Tag tag = link_->notices.Arm({message, pipe_.Get(), value});
  const ScopeExit disarm([this] { link_->notices.Disarm(); });
  ::SendMessageW(notify_window_, message, tag.w_param, tag.l_param);
}

}  // namespace zyp::pipes
