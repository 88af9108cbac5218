#pragma once
// A pipe client stand-in that records the connection attempts and the bytes
// of every queued write.
#include <cstdint>
#include <string>
#include <vector>

#include "intake/queue_pipe.h"

namespace zyp::fakes {

class FakeQueuePipe : public intake::QueuePipe {
 public:
  bool serverAnswers = true;
  struct ConnectCall {
    std::uint32_t waitTime;
    bool start;
  };
  std::vector<ConnectCall> connects;
  std::vector<std::string> writes;

  bool Connect(std::uint32_t waitTime, bool start) override {
    connects.push_back({waitTime, start});
    connected_ = serverAnswers;
    return connected_;
  }
  bool Write(const void* buffer, std::int32_t count) override {
    if (!connected_) return false;
    writes.emplace_back(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return true;
  }

 private:
  bool connected_ = false;
};

}  // namespace zyp::fakes
