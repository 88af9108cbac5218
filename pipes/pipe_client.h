#pragma once
// The client end of a named pipe. It opens the pipe, hands all input and
// output to a worker thread and turns the worker's reports into its events,
// on the thread that created it. Everything it sends goes through its write
// queue, which also frames long writes.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "pipes/notify_window.h"
#include "pipes/pipe_link.h"
#include "pipes/stream.h"
#include "platform/error.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

class TPipeThread;
class TThreadEx;

// Which side of a pipe reported an error; a client always reports pcWorker.
enum class TPipeContext { pcListener, pcWorker };

// Misuse of the pipe client, with a fixed message.
class EPipeException : public Error {
 public:
  using Error::Error;
};

class TPipeClient {
 public:
  using TOnPipeDisconnect = std::function<void(TPipeClient& Sender, HANDLE Pipe)>;
  // Stream holds one whole message from its start; valid only during the call.
  using TOnPipeMessage = std::function<void(TPipeClient& Sender, HANDLE Pipe, TStream& Stream)>;
  using TOnPipeSent = std::function<void(TPipeClient& Sender, HANDLE Pipe, std::uint32_t Size)>;
  using TOnPipeError =
      std::function<void(TPipeClient& Sender, HANDLE Pipe, TPipeContext PipeContext, std::int32_t ErrorCode)>;
  // One attempt of Connect to open the pipe: the system's error code (0 when
  // it opened) and the id of the process serving it (0 when not known).
  using TOnConnectAttempt = std::function<void(TPipeClient& Sender, std::uint32_t ErrorCode, std::uint32_t ServerId)>;

  // Needs a running PipeModule. Every call below is made on the creating
  // thread.
  TPipeClient();
  // Disconnects, drops whatever is still queued and calls no event. A
  // worker that cannot be waited for (the client goes inside one of its
  // notices) is told to stop and left to end by itself.
  ~TPipeClient();
  TPipeClient(const TPipeClient&) = delete;
  TPipeClient& operator=(const TPipeClient&) = delete;

  // Waits at most WaitTime ms for a free instance of the pipe (0 means the
  // server's default wait), opens it and, with Start, starts the worker. True
  // when connected or holding an open pipe afterwards.
  bool Connect(std::uint32_t WaitTime, bool Start);
  // Stops the worker: it has a grace of its own to finish a write under
  // way, then its flushes are given up; one still running at the bound is
  // left to end by itself and the client starts afresh.
  void Disconnect();
  // Waits until the worker has taken every queued write, or has ended.
  void FlushPipeBuffers();
  // Waits for the next message from the server; 0xFFFFFFFF waits without limit.
  bool WaitForReply(std::uint32_t TimeOut);
  // Sends the whole stream as one multi-packet message.
  bool SendStream(TStream* Stream);
  // Queues a copy of the bytes; true means queued, not delivered.
  bool Write(const void* Buffer, std::int32_t Count);
  bool Write(const void* Prefix, std::int32_t PrefixCount, const void* Buffer, std::int32_t Count);

  std::uint32_t MemoryThrottle() const { return FThrottle; }
  // 0 switches the throttle off.
  void SetMemoryThrottle(std::uint32_t value) { FThrottle = value; }
  const std::u16string& PipeName() const { return FPipeName; }
  void SetPipeName(const std::u16string& value);
  const std::u16string& ServerName() const { return FServerName; }
  void SetServerName(const std::u16string& value);

  bool Connected() const;
  HWND WindowHandle() const { return FHwnd; }
  HANDLE Pipe() const { return FPipe; }
  // The queue's accounted size, for callers that watch the throttle.
  std::uint32_t QueuedSize() const { return link_->queue.DataSize(); }
  // Every write queued so far went into the pipe, whether or not the server
  // has read it yet; false when any was dropped or is still on its way.
  bool AllWritten() const { return link_->queue.AllWritten(); }

  TOnPipeDisconnect OnPipeDisconnect;
  // Assigned before Connect, or the worker reads and drops what the server
  // sends (only WaitForReply learns of it). A message longer than
  // kMaxMessageSize is dropped.
  TOnPipeMessage OnPipeMessage;
  TOnPipeSent OnPipeSent;
  TOnPipeError OnPipeError;
  TOnConnectAttempt OnConnectAttempt;
  // Asked about a newly opened pipe before anything is written to it; false
  // closes it and Connect fails.
  std::function<bool(HANDLE Pipe)> ServerCheck;

 private:
  void WndProc(MessageRecord& message);
  void HandleNotice(const Notice& notice);
  std::wstring PipePath() const;
  bool OpenPipe(const std::wstring& path, std::uint32_t waitTime);
  void ReportAttempt(DWORD error);
  void StartWorker();
  void WorkerEnded();
  void StopWorker();
  void AbandonWorker();
  // A worker whose end was never carried to this thread is gone all the same.
  void ForgetEndedWorker();
  bool PipeValid() const { return FPipe != nullptr && FPipe != INVALID_HANDLE_VALUE; }
  void CheckNotOpen() const;
  bool Throttled() const;

  DWORD FBaseThread;
  HWND FHwnd = nullptr;
  // The handle's value, also while the worker owns it.
  HANDLE FPipe = INVALID_HANDLE_VALUE;
  // The handle while this client owns it: opened, no worker yet.
  win32::UniqueHandle open_pipe_;
  std::u16string FPipeName = u"PipeServer";
  std::u16string FServerName;
  bool FDisconnecting = false;
  bool FReply = false;
  bool destroying_ = false;
  // PN_DISCONNECT that this client posted to itself and has not handled.
  bool disconnect_posted_ = false;
  std::uint32_t FThrottle = 10240000;
  std::shared_ptr<PipeLink> link_;
  // How the worker's end reaches this client; cleared when the client goes
  // before its worker.
  std::shared_ptr<TPipeClient*> self_;
  TPipeThread* FWorker = nullptr;
  // Our own reference to the worker's thread: the worker frees itself, and
  // with it its handle, when its thread ends.
  win32::UniqueHandle worker_thread_;
  DWORD worker_creator_ = 0;
};

}  // namespace zyp::pipes
