// Any list of payloads, framed as the sender frames them, is received as
// exactly the same payloads. (A single payload shaped like a control packet
// is taken as one by both ends; such payloads are left out here.)
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "pipes/framing.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Check(bool condition) {
  if (!condition) std::abort();
}

// The messages a write of this payload becomes on the pipe.
std::vector<Bytes> Frame(const Bytes& payload) {
  using zyp::pipes::kMaxPipeWrite;
  if (payload.size() <= static_cast<std::size_t>(kMaxPipeWrite)) return {payload};
  std::vector<Bytes> messages;
  const auto start = zyp::pipes::MakeControlPacket(zyp::pipes::kStartMarker);
  messages.emplace_back(start.begin(), start.end());
  for (std::size_t at = 0; at < payload.size(); at += kMaxPipeWrite) {
    const std::size_t n = std::min<std::size_t>(kMaxPipeWrite, payload.size() - at);
    messages.emplace_back(payload.begin() + at, payload.begin() + at + n);
  }
  const auto end = zyp::pipes::MakeControlPacket(zyp::pipes::kEndMarker);
  messages.emplace_back(end.begin(), end.end());
  return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each payload: a two-byte length (scaled up so that splits happen), then
  // that many bytes taken from the input, repeated as needed.
  std::vector<Bytes> payloads;
  std::size_t at = 0;
  while (at + 2 <= size && payloads.size() < 8) {
    const std::size_t length = (std::size_t(data[at]) | std::size_t(data[at + 1]) << 8) * 3;
    at += 2;
    Bytes payload(length);
    for (std::size_t i = 0; i < length; ++i) payload[i] = size > at ? data[at + i % (size - at)] : 0;
    if (!zyp::pipes::ControlMarker(payload)) payloads.push_back(std::move(payload));
  }

  std::vector<Bytes> received;
  std::optional<Bytes> open;
  for (const Bytes& payload : payloads) {
    for (const Bytes& message : Frame(payload)) {
      switch (zyp::pipes::ClassifyMessage(message, open.has_value())) {
        case zyp::pipes::ReceiveStep::DeliverAlone:
          received.push_back(message);
          break;
        case zyp::pipes::ReceiveStep::AppendToOpen:
          open->insert(open->end(), message.begin(), message.end());
          break;
        case zyp::pipes::ReceiveStep::BeginNew:
          open.emplace();
          break;
        case zyp::pipes::ReceiveStep::DeliverOpen:
          received.push_back(std::move(*open));
          open.reset();
          break;
        case zyp::pipes::ReceiveStep::DropOpen:
          open.reset();
          break;
        case zyp::pipes::ReceiveStep::Ignore:
          break;
      }
    }
  }
  Check(!open.has_value());
  Check(received == payloads);
  return 0;
}
