#pragma once
// What a pipe client shares with its worker thread: the write queue, the kill
// event, the notice on its way and the gate of the worker's flushes. Both own
// it, so a worker that has to be left running when its client goes never
// touches freed memory.
#include <windows.h>

#include "pipes/flush_gate.h"
#include "pipes/notice_box.h"
#include "pipes/write_queue.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

struct PipeLink {
  // Raises the platform error when the kill event cannot be made.
  PipeLink();

  WriteQueue queue;
  // Manual-reset; tells the worker to stop. Not inheritable: no child
  // process has any business with it.
  win32::UniqueHandle kill;
  NoticeBox notices;
  FlushGate flushes;
};

}  // namespace zyp::pipes
