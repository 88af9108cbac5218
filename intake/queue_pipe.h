#pragma once
// The connection to the queue manager's pipe as requests use it: the main
// window's pipe client.
#include <cstdint>

namespace zyp::intake {

class QueuePipe {
 public:
  virtual ~QueuePipe() = default;
  // Opens the pipe within waitTime milliseconds and, with start, starts the
  // worker that carries the writes. True when connected.
  virtual bool Connect(std::uint32_t waitTime, bool start) = 0;
  // Queues a copy of count bytes; true when queued (not yet delivered).
  virtual bool Write(const void* buffer, std::int32_t count) = 0;
};

}  // namespace zyp::intake
