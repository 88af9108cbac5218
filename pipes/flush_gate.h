#pragma once
// Bounds the worker's flushes. A flush returns only once the server has read
// the pipe, so a server that stops reading would hold the worker, and with it
// the client's stop, for ever. The client stops the gate once the worker has
// had its grace: no flush starts after that, and one under way is cancelled.
#include <windows.h>

namespace zyp::pipes {

class FlushGate {
 public:
  // A new worker starts with an open gate.
  void Open();
  // Worker: flushes the pipe unless the gate is stopped. True once the
  // server has read everything; false when the flush failed or was given up.
  bool Flush(HANDLE pipe);
  // Client: stops the gate and cancels the flush under way, if any.
  // Cancelling also ends the worker's read, which the worker knows by
  // Cancelled.
  void Stop();
  bool Cancelled();

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool stopped_ = false;
  bool cancelled_ = false;
  // The pipe stays open while a flush is under way on it.
  HANDLE flushing_ = nullptr;
};

}  // namespace zyp::pipes
