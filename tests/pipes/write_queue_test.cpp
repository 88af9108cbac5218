// The write queue: how each write becomes queue entries, the size that the
// throttle reads, the two events, and the split seen from a racing reader.
#include "pipes/write_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "pipes/framing.h"
#include "tests/support/control_packets.h"

namespace zyp::pipes {
namespace {

using zyp::testing::Bytes;
using zyp::testing::ControlBytes;
using zyp::testing::Pattern;

bool Signalled(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

void ExpectEventsMatch(const WriteQueue& queue) {
  EXPECT_EQ(Signalled(queue.DataEvent()), !queue.Empty());
  EXPECT_EQ(Signalled(queue.EmptyEvent()), queue.Empty());
}

Bytes Contents(const PipeWrite& write) {
  return write.count == 0 ? Bytes{} : Bytes(write.buffer.get(), write.buffer.get() + write.count);
}

std::vector<Bytes> DequeueAll(WriteQueue& queue) {
  std::vector<Bytes> entries;
  while (PipeWritePtr write = queue.Dequeue()) {
    entries.push_back(Contents(*write));
    ExpectEventsMatch(queue);
  }
  return entries;
}

TEST(WriteQueue, EachWriteBecomesItsEntries) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> pieces;  // empty: the write travels alone
  };
  const Case cases[] = {
      {0, {}}, {16, {}}, {65534, {}}, {65535, {65534, 1}}, {100000, {65534, 34466}}, {131068, {65534, 65534}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    WriteQueue queue;
    // A 16-byte write shaped like a control packet is still queued as data.
    const Bytes payload = c.size == 16 ? ControlBytes(kStartMarker) : Pattern(c.size, 5);
    queue.Enqueue(NewPipeWrite(payload.data(), static_cast<std::int32_t>(payload.size())));
    ExpectEventsMatch(queue);

    std::vector<Bytes> expected;
    std::uint32_t accounted = 0;
    if (c.pieces.empty()) {
      expected.push_back(payload);
    } else {
      expected.push_back(ControlBytes(kStartMarker));
      std::size_t offset = 0;
      for (std::size_t piece : c.pieces) {
        expected.emplace_back(payload.begin() + offset, payload.begin() + offset + piece);
        offset += piece;
      }
      expected.push_back(ControlBytes(kEndMarker));
    }
    for (const Bytes& entry : expected) accounted += static_cast<std::uint32_t>(entry.size()) + 28;
    EXPECT_EQ(queue.DataSize(), accounted);
    EXPECT_EQ(DequeueAll(queue), expected);
    EXPECT_EQ(queue.DataSize(), 0u);
  }
}

TEST(WriteQueue, AccountsEveryEntryAndKeepsTheEventsInStep) {
  WriteQueue queue;
  ExpectEventsMatch(queue);
  const Bytes payload = Pattern(100000, 9);
  queue.Enqueue(NewPipeWrite(payload.data(), 100000));
  EXPECT_EQ(queue.DataSize(), 100144u);
  EXPECT_TRUE(Signalled(queue.DataEvent()));
  const std::uint32_t after[] = {100100, 34538, 44, 0};
  for (std::uint32_t expected : after) {
    ASSERT_NE(queue.Dequeue(), nullptr);
    EXPECT_EQ(queue.DataSize(), expected);
    ExpectEventsMatch(queue);
  }
  EXPECT_TRUE(Signalled(queue.EmptyEvent()));
  EXPECT_FALSE(Signalled(queue.DataEvent()));
  EXPECT_EQ(queue.Dequeue(), nullptr);
}

TEST(WriteQueue, NullEnqueueChangesNothing) {
  WriteQueue queue;
  queue.Enqueue(nullptr);
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(queue.DataSize(), 0u);
  ExpectEventsMatch(queue);

  const Bytes payload = Pattern(10, 1);
  queue.Enqueue(NewPipeWrite(payload.data(), 10));
  queue.Enqueue(nullptr);
  EXPECT_EQ(queue.DataSize(), 38u);
  ExpectEventsMatch(queue);
  EXPECT_EQ(DequeueAll(queue), std::vector<Bytes>{payload});
}

TEST(WriteQueue, DiscardAllEmptiesEverything) {
  WriteQueue queue;
  queue.DiscardAll();
  EXPECT_EQ(queue.DataSize(), 0u);
  ExpectEventsMatch(queue);

  const Bytes payload = Pattern(300000, 2);
  queue.Enqueue(NewPipeWrite(payload.data(), 300000));
  queue.EnqueueStartPacket();
  queue.DiscardAll();
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(queue.DataSize(), 0u);
  ExpectEventsMatch(queue);
  EXPECT_EQ(queue.Dequeue(), nullptr);

  // The queue goes on working after a discard.
  queue.EnqueueEndPacket();
  EXPECT_EQ(DequeueAll(queue), std::vector<Bytes>{ControlBytes(kEndMarker)});
}

TEST(WriteQueue, PrefixedWriteJoinsItsParts) {
  const Bytes prefix{'A', 'D', 'D'};
  const Bytes rest = Pattern(70000, 4);
  Bytes joined = prefix;
  joined.insert(joined.end(), rest.begin(), rest.end());
  PipeWritePtr write = NewPrefixedPipeWrite(prefix.data(), 3, rest.data(), 70000);
  EXPECT_EQ(Contents(*write), joined);
  EXPECT_EQ(Contents(*NewPrefixedPipeWrite(nullptr, 0, nullptr, 0)), Bytes{});
  EXPECT_THROW(NewPipeWrite(nullptr, -1), std::length_error);
}

// A reader that takes a start packet must find the whole split message
// queued behind it: the writer holds the lock from the start packet to the
// end packet.
TEST(WriteQueue, RacingDequeueNeverSeesAPieceBeforeItsStartPacket) {
  WriteQueue queue;
  constexpr int kWrites = 40;
  constexpr std::int32_t kSize = 400000;  // start, 7 pieces, end
  constexpr std::uint32_t kRestAccounted = kSize + 7 * 28 + 44;
  std::atomic<bool> done{false};
  std::vector<Bytes> seen;
  std::vector<std::uint32_t> queuedBehindStart;

  std::thread reader([&] {
    for (;;) {
      if (::WaitForSingleObject(queue.DataEvent(), 10) != WAIT_OBJECT_0) {
        if (done.load()) return;
        continue;
      }
      PipeWritePtr write = queue.Dequeue();
      if (!write) continue;
      seen.push_back(Contents(*write));
      if (seen.back() == ControlBytes(kStartMarker)) queuedBehindStart.push_back(queue.DataSize());
    }
  });
  const Bytes payload = Pattern(kSize, 7);
  for (int i = 0; i < kWrites; ++i) queue.Enqueue(NewPipeWrite(payload.data(), kSize));
  done = true;
  reader.join();

  ASSERT_EQ(seen.size(), std::size_t{kWrites} * 9);
  ASSERT_EQ(queuedBehindStart.size(), std::size_t{kWrites});
  for (std::uint32_t behind : queuedBehindStart) EXPECT_GE(behind, kRestAccounted);
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_EQ(seen[i * 9], ControlBytes(kStartMarker));
    EXPECT_EQ(seen[i * 9 + 1], Bytes(payload.begin(), payload.begin() + 65534));
    EXPECT_EQ(seen[i * 9 + 8], ControlBytes(kEndMarker));
  }
}

}  // namespace
}  // namespace zyp::pipes
