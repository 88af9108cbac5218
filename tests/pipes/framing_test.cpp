// The control packets' bytes and the receiving rule, case by case.
#include "pipes/framing.h"

#include <gtest/gtest.h>

#include <vector>

namespace zyp::pipes {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kStart{0x10, 0, 0, 0, 'M', 'A', 'G', 'C', 'S', 'T', 'M', 'B', 'M', 'A', 'G', 'C'};
const Bytes kEnd{0x10, 0, 0, 0, 'M', 'A', 'G', 'C', 'E', 'T', 'M', 'B', 'M', 'A', 'G', 'C'};

TEST(Framing, ControlPacketsHaveTheirExactBytes) {
  const ControlPacket start = MakeControlPacket(kStartMarker);
  const ControlPacket end = MakeControlPacket(kEndMarker);
  EXPECT_EQ(Bytes(start.begin(), start.end()), kStart);
  EXPECT_EQ(Bytes(end.begin(), end.end()), kEnd);
}

TEST(Framing, ReceivingRuleTable) {
  Bytes otherMarker = kStart;
  otherMarker[8] = 'X';
  Bytes wrongLength = kStart;
  wrongLength[0] = 0x11;
  Bytes wrongFirstMagic = kStart;
  wrongFirstMagic[4] = 'm';
  Bytes wrongSecondMagic = kStart;
  wrongSecondMagic[15] = 'c';
  Bytes longer = kStart;
  longer.push_back(0);
  const Bytes shorter(kStart.begin(), kStart.end() - 1);

  struct Case {
    const char* name;
    Bytes message;
    bool open;
    ReceiveStep expected;
  };
  const Case cases[] = {
      {"start, none open", kStart, false, ReceiveStep::BeginNew},
      {"start, one open", kStart, true, ReceiveStep::BeginNew},
      {"end, one open", kEnd, true, ReceiveStep::DeliverOpen},
      {"stray end", kEnd, false, ReceiveStep::Ignore},
      {"other marker, open", otherMarker, true, ReceiveStep::DropOpen},
      {"other marker, none open", otherMarker, false, ReceiveStep::DropOpen},
      {"empty message", {}, false, ReceiveStep::DeliverAlone},
      {"empty message, open", {}, true, ReceiveStep::AppendToOpen},
      {"length field not 16", wrongLength, false, ReceiveStep::DeliverAlone},
      {"first magic differs", wrongFirstMagic, false, ReceiveStep::DeliverAlone},
      {"second magic differs", wrongSecondMagic, true, ReceiveStep::AppendToOpen},
      {"17 bytes", longer, false, ReceiveStep::DeliverAlone},
      {"15 bytes", shorter, true, ReceiveStep::AppendToOpen},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyMessage(c.message, c.open), c.expected) << c.name;
}

}  // namespace
}  // namespace zyp::pipes
