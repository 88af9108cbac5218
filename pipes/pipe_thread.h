#pragma once
// The worker that does all input and output of one connected pipe: it keeps a
// read outstanding, writes the queued entries one at a time, puts multi-packet
// messages back together and reports to its client's notify window. It frees
// itself when its thread ends.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>

#include "pipes/fast_mem_stream.h"
#include "pipes/pipe_link.h"
#include "pipes/pipe_multi_msg.h"
#include "pipes/thread_sync.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

// The largest message from the server that is collected for a listener, a
// multi-packet message included; a longer one is read and dropped.
inline constexpr std::uint64_t kMaxMessageSize = 16u * 1024 * 1024;

class TPipeThread final : public TThreadEx {
 public:
  // Created suspended on the client's thread. The worker owns the pipe
  // handle once it runs and closes it at its end; the notify window stays
  // the client's. Without collect nobody listens for messages: what the
  // server sends is read and thrown away, and only counted as a reply.
  TPipeThread(HWND notifyWindow, DWORD notifyThread, std::shared_ptr<PipeLink> link, HANDLE pipe, bool collect);
  ~TPipeThread() override;

  HANDLE Pipe() const { return FPipe; }

 protected:
  void Execute() override;

 private:
  bool IssueReads();
  bool FinishRead();
  bool IssueWrite();
  bool FinishWrite();
  bool Killed() const;
  // One read has brought count bytes; whole when they end a pipe message.
  bool TakeRead(DWORD count, bool whole);
  // A whole message that came with one read.
  void HandleMessage(std::span<const std::uint8_t> message);
  // The end of a message that took several reads.
  void FinishLongMessage();
  void AppendToOpen(std::span<const std::uint8_t> bytes);
  void Deliver(TStream* stream);
  // Delivers what the receive stream holds and empties it, also when the
  // notice raises.
  void DeliverReceived();
  void NotifyOwner(UINT message, LPARAM value);
  void ClosePipeHandle();
  static void ClearOverlapped(OVERLAPPED& record, bool whole);

  // Flushes the pipe and reports the write once the server has read it.
  void ReportWrite();
  void FinishCleanUp();

  HWND FNotify;
  DWORD FNotifyThread;
  std::shared_ptr<PipeLink> link_;
  HANDLE FPipe;
  bool collect_;
  std::int32_t FErrorCode = 0;
  std::uint32_t FWrite = 0;
  TWriteQueue& FWriteQueue;
  PPipeWrite FPipeWrite;
  std::uint32_t FRcvRead = 0;
  bool FPendingRead = false;
  bool FPendingWrite = false;
  // A multi-packet message is open; FMultiMsg collects it while it is kept.
  bool multi_open_ = false;
  std::unique_ptr<TPipeMultiMsg> FMultiMsg;
  std::uint64_t multi_size_ = 0;
  // The message being read: bytes so far, where it goes, and whether its
  // bytes are kept in FRcvStream.
  std::uint64_t message_read_ = 0;
  bool message_to_open_ = false;
  bool message_kept_ = false;
  bool message_dropped_ = false;
  TFastMemStream FRcvStream;
  std::unique_ptr<std::uint8_t[]> FRcvBuffer;
  std::uint32_t FRcvAlloc;
  std::uint32_t FRcvSize;
  win32::UniqueHandle read_event_;
  win32::UniqueHandle write_event_;
  HANDLE FEvents[4];
  OVERLAPPED FOlapRead;
  OVERLAPPED FOlapWrite;
};

}  // namespace zyp::pipes
