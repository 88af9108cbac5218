#include "pipes/framing.h"

namespace zyp::pipes {

namespace {

void PutLittleEndian(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLittleEndian(const std::uint8_t* in) {
  return std::uint32_t(in[0]) | std::uint32_t(in[1]) << 8 | std::uint32_t(in[2]) << 16 | std::uint32_t(in[3]) << 24;
}

}  // namespace

ControlPacket MakeControlPacket(std::uint32_t marker) {
  ControlPacket packet{};
  PutLittleEndian(&packet[0], static_cast<std::uint32_t>(kControlPacketSize));
  PutLittleEndian(&packet[4], kControlMagic);
  PutLittleEndian(&packet[8], marker);
  PutLittleEndian(&packet[12], kControlMagic);
  return packet;
}

std::optional<std::uint32_t> ControlMarker(std::span<const std::uint8_t> message) {
  if (message.size() != kControlPacketSize) return std::nullopt;
  const std::uint8_t* bytes = message.data();
  if (GetLittleEndian(bytes) != kControlPacketSize || GetLittleEndian(bytes + 4) != kControlMagic ||
      GetLittleEndian(bytes + 12) != kControlMagic)
    return std::nullopt;
  return GetLittleEndian(bytes + 8);
}

ReceiveStep ClassifyMessage(std::span<const std::uint8_t> message, bool multiPacketOpen) {
  const auto marker = ControlMarker(message);
  if (!marker) return multiPacketOpen ? ReceiveStep::AppendToOpen : ReceiveStep::DeliverAlone;
  if (*marker == kStartMarker) return ReceiveStep::BeginNew;
  if (*marker == kEndMarker) return multiPacketOpen ? ReceiveStep::DeliverOpen : ReceiveStep::Ignore;
  return ReceiveStep::DropOpen;
}

}  // namespace zyp::pipes
