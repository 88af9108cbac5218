#include "tests/support/control_packets.h"

#include "pipes/framing.h"

namespace zyp::testing {

Bytes ControlBytes(std::uint32_t marker) {
  const pipes::ControlPacket packet = pipes::MakeControlPacket(marker);
  return Bytes(packet.begin(), packet.end());
}

}  // namespace zyp::testing
