#pragma once
// Lets requests reach the queue manager through the main window's pipe client.
#include "intake/queue_pipe.h"
#include "pipes/pipe_client.h"

namespace zyp::app {

class PipeClientQueue final : public intake::QueuePipe {
 public:
  explicit PipeClientQueue(pipes::PipeClient& client) : client_(client) {}
  bool Connect(std::uint32_t waitTime, bool start) override { return client_.Connect(waitTime, start); }
  bool Write(const void* buffer, std::int32_t count) override { return client_.Write(buffer, count); }

 private:
  pipes::PipeClient& client_;
};

}  // namespace zyp::app
