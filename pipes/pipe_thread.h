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
#include "pipes/pipe_multi_msg.h"
#include "pipes/thread_sync.h"
#include "pipes/write_queue.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

class TPipeThread final : public TThreadEx {
 public:
  // Created suspended on the client's thread. The worker owns the pipe
  // handle once it runs and closes it at its end; the queue, the notify
  // window and the kill event stay the client's.
  TPipeThread(HWND notifyWindow, DWORD notifyThread, TWriteQueue& writeQueue, HANDLE pipe, HANDLE killEvent);
  ~TPipeThread() override;

  HANDLE Pipe() const { return FPipe; }

 protected:
  void Execute() override;

 private:
  bool IssueReads();
  bool FinishRead();
  bool IssueWrite();
  bool FinishWrite();
  void HandleReceived();
  // The read that completes a message has just finished.
  void ReceiveLastPart();
  // Applies the receiving rule to one whole message.
  void HandleMessage(std::span<const std::uint8_t> message);
  void NotifyOwner(UINT message, WPARAM wParam, LPARAM lParam);
  void ClosePipeHandle();
  static void ClearOverlapped(OVERLAPPED& record, bool whole);

  void AppendReceived(DWORD count);
  bool ReadBytesLeft();
  // Flushes the pipe and reports the write once the server has read it.
  void ReportWrite();
  // True once the server has read everything in the pipe; false when it
  // failed, or was given up because the worker is being stopped.
  bool Flush();
  void FinishCleanUp();
  static void CALLBACK OnKill(void* parameter, BOOLEAN timedOut);

  HWND FNotify;
  DWORD FNotifyThread;
  HANDLE FPipe;
  std::int32_t FErrorCode = 0;
  std::uint32_t FWrite = 0;
  TWriteQueue& FWriteQueue;
  PPipeWrite FPipeWrite;
  std::uint32_t FRcvRead = 0;
  bool FPendingRead = false;
  bool FPendingWrite = false;
  std::unique_ptr<TPipeMultiMsg> FMultiMsg;
  TFastMemStream FRcvStream;
  std::unique_ptr<std::uint8_t[]> FRcvBuffer;
  std::uint32_t FRcvAlloc;
  std::uint32_t FRcvSize;
  win32::UniqueHandle read_event_;
  win32::UniqueHandle write_event_;
  HANDLE FEvents[4];
  OVERLAPPED FOlapRead;
  OVERLAPPED FOlapWrite;

  // A flush returns only once the server has read the pipe. Once the kill
  // event is set, a flush still waiting after a grace period is cancelled
  // from a pool thread, so a server that stops reading cannot hold the
  // worker, and with it the client's Disconnect, for ever.
  // System locks rather than the library's: the pool thread and the worker
  // are not threads that the C++ runtime started.
  SRWLOCK flush_lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE flush_changed_ = CONDITION_VARIABLE_INIT;
  bool flush_stopped_ = false;
  bool in_flush_ = false;
  bool ended_ = false;
  HANDLE kill_wait_ = nullptr;
};

}  // namespace zyp::pipes
