#pragma once
// The worker that does all input and output of one connected pipe: it keeps a
// read outstanding, writes the queued entries one at a time, puts multi-packet
// messages back together and reports to its client's notify window.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>

#include "pipes/fast_mem_stream.h"
#include "pipes/pipe_link.h"
#include "pipes/pipe_multi_msg.h"
#include "pipes/thread_ex.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

// The largest message from the server that is collected for a listener, a
// multi-packet message included; a longer one is read and dropped.
inline constexpr std::uint64_t kMaxMessageSize = 16u * 1024 * 1024;

class PipeThread final : public ThreadEx {
 public:
  // Made on the thread that connects, which must be the notify window's.
  // The worker takes the pipe and closes it when its thread ends; the notify
  // window stays the client's. Without collect nobody listens for messages:
  // what the server sends is read and thrown away, and only counted as a
  // reply. Raises the platform error when its events cannot be made.
  PipeThread(HWND notifyWindow, DWORD notifyThread, std::shared_ptr<PipeLink> link, win32::UniqueHandle pipe,
             bool collect);
  ~PipeThread() override;

 protected:
  void Execute() override;

 private:
  // Why the worker's wait ended. All but the last name a slot of the wait,
  // in this order.
  enum class Wake : DWORD { kStop, kReadDone, kWriteDone, kQueued, kFailed };
  static constexpr DWORD Slot(Wake wake) { return static_cast<DWORD>(wake); }
  static constexpr DWORD kWaitSlots = static_cast<DWORD>(Wake::kQueued) + 1;

  // One request per direction, as libuv keeps them: the record and the
  // buffer that the system may write into while the request is pending.
  struct ReadRequest {
    OVERLAPPED overlapped{};
    win32::UniqueHandle done;
    std::unique_ptr<std::uint8_t[]> buffer;
    DWORD capacity = 0;
    bool pending = false;
  };
  struct WriteRequest {
    OVERLAPPED overlapped{};
    win32::UniqueHandle done;
    PipeWritePtr entry;
    bool pending = false;
  };

  Wake WaitForWork();
  bool Stopping() const;
  // Each returns false on a failure, whose code is in error_.
  bool StartReads();
  bool FinishRead();
  bool StartWrite();
  bool FinishWrite();
  // The stop has come: requests under way get a short grace.
  void FinishForStop();
  void ReportFailure();
  // Closes the pipe and lets go of what the thread alone needed.
  void FinishWork();
  // Cancels what is under way, waits until the system has let go of the
  // records and buffers, and closes the pipe.
  void ClosePipe();

  // One read has brought count bytes; whole when they end a pipe message.
  bool TakeRead(DWORD count, bool whole);
  // A whole message that came with one read.
  void HandleMessage(std::span<const std::uint8_t> message);
  // The end of a message that took several reads.
  void FinishLongMessage();
  void AppendToOpen(std::span<const std::uint8_t> bytes);
  void Deliver(Stream* stream);
  // Delivers what the receive stream holds and empties it, also when the
  // notice raises.
  void DeliverReceived();
  // Flushes the pipe and reports the write once the server has read it.
  void ReportWrite(DWORD written);
  void NotifyOwner(UINT message, LPARAM value);

  const HWND notify_window_;
  const DWORD notify_thread_;
  const DWORD creating_thread_;
  const std::shared_ptr<PipeLink> link_;
  WriteQueue& queue_;
  win32::UniqueHandle pipe_;
  const bool collect_;
  DWORD error_ = 0;
  ReadRequest read_;
  WriteRequest write_;
  // A multi-packet message is open; multi_msg_ collects it while it is kept.
  bool multi_open_ = false;
  std::unique_ptr<PipeMultiMsg> multi_msg_;
  std::uint64_t multi_size_ = 0;
  // The message being read: bytes so far, where it goes, and whether its
  // bytes are kept in received_.
  std::uint64_t message_read_ = 0;
  bool message_to_open_ = false;
  bool message_kept_ = false;
  bool message_dropped_ = false;
  FastMemStream received_;
};

}  // namespace zyp::pipes
