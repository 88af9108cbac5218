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
  // Each payload from two input bytes: a kind that picks a length near the
  // framing's boundaries (or a 16-byte near-miss of a control packet), and a
  // fill byte; the next input bytes are written over its start.
  std::vector<Bytes> payloads;
  std::size_t at = 0;
  while (at + 2 <= size && payloads.size() < 6) {
    const std::uint8_t kind = data[at], fill = data[at + 1];
    at += 2;
    const std::size_t near = fill % 5;  // -2 .. +2 around a boundary
    std::size_t length = 0;
    switch (kind % 4) {
      case 0:
        length = fill;
        break;
      case 1:
        length = zyp::pipes::kMaxPipeWrite - 2 + near;
        break;
      case 2:
        length = 2 * zyp::pipes::kMaxPipeWrite - 2 + near;
        break;
      default:
        length = zyp::pipes::kControlPacketSize;
        break;
    }
    Bytes payload(length, fill);
    if (kind % 4 == 3) {
      const auto packet =
          zyp::pipes::MakeControlPacket(kind & 0x80 ? zyp::pipes::kStartMarker : zyp::pipes::kEndMarker);
      std::copy(packet.begin(), packet.end(), payload.begin());
      payload[fill % payload.size()] ^= static_cast<std::uint8_t>(kind >> 2);  // may leave it a packet
    }
    for (std::size_t i = 0; i < length && at < size && i < 8; ++i) payload[i] ^= data[at++];
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
