#pragma once
// The client end of a named pipe. It opens the pipe, hands all input and
// output to a worker thread and turns the worker's reports into its events,
// on the thread that created it. Everything it sends goes through its write
// queue, which also frames long writes.
#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "pipes/notify_window.h"
#include "pipes/pipe_link.h"
#include "pipes/stream.h"
#include "platform/error.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

class PipeThread;

inline constexpr char16_t kDefaultPipeName[] = u"PipeServer";
inline constexpr std::uint32_t kDefaultMemoryThrottle = 10240000;

// Misuse of the pipe client, with a fixed message.
class PipeException : public Error {
 public:
  using Error::Error;
};

class PipeClient {
 public:
  using OnPipeDisconnect = std::function<void(PipeClient& sender, HANDLE pipe)>;
  // stream holds one whole message from its start; valid only during the call.
  using OnPipeMessage = std::function<void(PipeClient& sender, HANDLE pipe, Stream& stream)>;
  using OnPipeSent = std::function<void(PipeClient& sender, HANDLE pipe, std::uint32_t size)>;
  using OnPipeError = std::function<void(PipeClient& sender, HANDLE pipe, std::int32_t errorCode)>;
  // One attempt of Connect to open the pipe: the system's error code (0 when
  // it opened) and the id of the process serving it (0 when not known).
  using OnConnectAttempt = std::function<void(PipeClient& sender, std::uint32_t errorCode, std::uint32_t serverId)>;

  // Needs a running PipeModule. Every call below is made on the creating
  // thread.
  PipeClient();
  // Disconnects, drops whatever is still queued and calls no event. A
  // worker that cannot be waited for (the client goes inside one of its
  // notices) is told to stop and left to end by itself.
  ~PipeClient();
  PipeClient(const PipeClient&) = delete;
  PipeClient& operator=(const PipeClient&) = delete;

  // Waits at most waitTime ms for a free instance of the pipe (0 means the
  // server's default wait), opens it and, with start, starts the worker. True
  // when connected or holding an open pipe afterwards.
  bool Connect(std::uint32_t waitTime, bool start);
  // Stops the worker: it has a grace of its own to finish a write under
  // way, then its flushes are given up; one still running at the bound is
  // left to end by itself and the client starts afresh.
  void Disconnect();
  // Waits until the worker has taken every queued write, or has ended.
  void FlushPipeBuffers();
  // Waits for the next message from the server; 0xFFFFFFFF waits without limit.
  bool WaitForReply(std::uint32_t timeOut);
  // Sends the whole stream as one multi-packet message.
  bool SendStream(Stream* stream);
  // Queues a copy of the bytes; true means queued, not delivered.
  bool Write(const void* buffer, std::int32_t count);
  bool Write(const void* prefix, std::int32_t prefixCount, const void* buffer, std::int32_t count);

  std::uint32_t MemoryThrottle() const { return throttle_; }
  // 0 switches the throttle off.
  void SetMemoryThrottle(std::uint32_t value) { throttle_ = value; }
  const std::u16string& PipeName() const { return pipe_name_; }
  void SetPipeName(const std::u16string& value);
  const std::u16string& ServerName() const { return server_name_; }
  void SetServerName(const std::u16string& value);

  bool Connected() const;
  HWND WindowHandle() const { return window_.Handle(); }
  HANDLE Pipe() const { return pipe_; }
  // The queue's accounted size, for callers that watch the throttle.
  std::uint32_t QueuedSize() const { return link_->queue.DataSize(); }
  // Every write queued on this client so far, over all its connections,
  // went into the pipe, whether or not the server has read it yet; false when
  // any was dropped or is still on its way. A worker left to end by itself
  // takes the writes it had not done with it: they stay dropped.
  bool AllWritten() const { return !writes_abandoned_ && link_->queue.AllWritten(); }

  OnPipeDisconnect on_pipe_disconnect;
  // Assigned before Connect, or the worker reads and drops what the server
  // sends (only WaitForReply learns of it). A message longer than
  // kMaxMessageSize is dropped.
  OnPipeMessage on_pipe_message;
  OnPipeSent on_pipe_sent;
  // An error on the pipe, or the one that ended the worker, with the
  // system's error code; the disconnect follows.
  OnPipeError on_pipe_error;
  OnConnectAttempt on_connect_attempt;
  // Asked about a newly opened pipe before anything is written to it; false
  // closes it and Connect fails.
  std::function<bool(HANDLE pipe)> server_check;

 private:
  void WndProc(MessageRecord& message);
  void HandleNotice(const Notice& notice);
  std::wstring PipePath() const;
  bool OpenPipe(const std::wstring& path, std::uint32_t waitTime);
  void ReportAttempt(DWORD error);
  void StartWorker();
  void StopWorker();
  // A worker whose end this thread has not heard of yet is gone all the same.
  void ForgetEndedWorker();
  void WorkerEnded();
  void AbandonWorker();
  // The connection is over: forgets it, then tells the handlers.
  void ConnectionEnded(std::exception_ptr workerError);
  bool PipeValid() const { return pipe_ != nullptr && pipe_ != INVALID_HANDLE_VALUE; }
  void CheckNotOpen() const;
  bool Throttled() const;

  const DWORD base_thread_;
  // Shared with the worker, which may outlive this client.
  std::shared_ptr<PipeLink> link_;
  NotifyWindow window_;
  // The handle's value, also while the worker owns it.
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  // The handle while this client owns it: opened, no worker yet.
  win32::UniqueHandle open_pipe_;
  std::u16string pipe_name_ = kDefaultPipeName;
  std::u16string server_name_;
  bool disconnecting_ = false;
  bool reply_ = false;
  bool destroying_ = false;
  // PN_DISCONNECT that this client posted to itself and has not handled.
  bool disconnect_posted_ = false;
  // A queue given up with its worker held writes that never went into the
  // pipe; the fresh queue cannot know of them.
  bool writes_abandoned_ = false;
  std::uint32_t throttle_ = kDefaultMemoryThrottle;
  // Shared with the worker's own thread while it runs.
  std::shared_ptr<PipeThread> worker_;
};

}  // namespace zyp::pipes
