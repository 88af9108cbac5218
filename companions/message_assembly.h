#pragma once
// The receiving rule applied in memory: whole pipe messages go in, the
// messages they complete come out, as the stand-in queue manager reassembles
// them (and as the protocol guide shows).
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pipes/framing.h"

namespace zyp::companions {

class MessageAssembly {
 public:
  struct Delivered {
    std::vector<std::uint8_t> bytes;
    std::uint32_t packets = 0;  // the pipe messages it came in, control packets included
  };

  // Carries out the step that the rule gave for this pipe message; returns
  // the message that it completes, if any.
  std::optional<Delivered> Apply(pipes::ReceiveStep step, std::span<const std::uint8_t> message) {
    switch (step) {
      case pipes::ReceiveStep::DeliverAlone:
        return Delivered{{message.begin(), message.end()}, 1};
      case pipes::ReceiveStep::AppendToOpen:
        open_.insert(open_.end(), message.begin(), message.end());
        ++open_packets_;
        break;
      case pipes::ReceiveStep::BeginNew:
        open_.clear();
        is_open_ = true;
        open_packets_ = 1;
        break;
      case pipes::ReceiveStep::DeliverOpen: {
        Delivered delivered{std::move(open_), open_packets_ + 1};
        Drop();
        return delivered;
      }
      case pipes::ReceiveStep::DropOpen:
        Drop();
        break;
      case pipes::ReceiveStep::Ignore:
        break;
    }
    return std::nullopt;
  }

  // Whether a multi-packet message is open, and how many bytes it holds.
  bool IsOpen() const { return is_open_; }
  std::size_t OpenSize() const { return open_.size(); }

 private:
  void Drop() {
    open_.clear();
    is_open_ = false;
    open_packets_ = 0;
  }

  std::vector<std::uint8_t> open_;
  bool is_open_ = false;
  std::uint32_t open_packets_ = 0;
};

}  // namespace zyp::companions
