#pragma once
// How messages travel on the queue pipe: a write of up to 65534 bytes is one
// pipe message; a longer one is a start packet, pieces of at most 65534 bytes
// and an end packet. Both ends of the pipe apply the same receiving rule.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace zyp::pipes {

inline constexpr std::int32_t kMaxPipeWrite = 65534;
inline constexpr std::size_t kControlPacketSize = 16;
inline constexpr std::uint32_t kControlMagic = 0x4347414D;  // "MAGC"
inline constexpr std::uint32_t kStartMarker = 0x424D5453;   // "STMB"
inline constexpr std::uint32_t kEndMarker = 0x424D5445;     // "ETMB"

using ControlPacket = std::array<std::uint8_t, kControlPacketSize>;

// Length 16, "MAGC", the marker, "MAGC": four little-endian 32-bit fields.
ControlPacket MakeControlPacket(std::uint32_t marker);

// The marker of a control packet; nothing when the message is data.
std::optional<std::uint32_t> ControlMarker(std::span<const std::uint8_t> message);

// What a receiver does with one whole pipe message.
enum class ReceiveStep {
  DeliverAlone,  // data while no multi-packet message is open
  AppendToOpen,  // data while one is open
  BeginNew,      // start packet: drop whatever is open, open a new one
  DeliverOpen,   // end packet with one open: deliver it and close it
  DropOpen,      // control packet with another marker: drop whatever is open
  Ignore,        // end packet with none open
};

ReceiveStep ClassifyMessage(std::span<const std::uint8_t> message, bool multiPacketOpen);

}  // namespace zyp::pipes
