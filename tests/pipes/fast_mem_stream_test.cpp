// The memory stream that collects received messages: its capacity rule and
// that it keeps the bytes across growth.
#include "pipes/fast_mem_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/pattern_bytes.h"

namespace zyp::pipes {
namespace {

using zyp::testing::Pattern;

TEST(FastMemStream, ReservedCapacityRule) {
  struct Case {
    std::size_t requested;
    std::size_t reserved;
  };
  const Case cases[] = {{0, 0},         {1, 65536},       {65534, 131069},  {65535, 131070},
                        {65536, 81920}, {200000, 250000}, {200003, 250003}, {1000000, 1250000}};
  for (const Case& c : cases)
    EXPECT_EQ(FastMemStream::ReservedCapacity(c.requested), c.reserved) << "requested " << c.requested;
}

TEST(FastMemStream, GrowsByTheRuleAndKeepsItsBytes) {
  FastMemStream stream;
  const auto first = Pattern(65534, 1);
  const auto second = Pattern(134466, 2);
  stream.Write(first.data(), first.size());
  EXPECT_EQ(stream.Capacity(), 131069u);
  // A fresh block is zero-filled beyond what was written.
  EXPECT_EQ(stream.Data()[131068], 0);
  stream.Write(second.data(), second.size());
  EXPECT_EQ(stream.Capacity(), 250000u);
  EXPECT_EQ(stream.Size(), 200000u);
  EXPECT_EQ(stream.Position(), 200000u);

  stream.SetPosition(0);
  std::vector<std::uint8_t> back(200000 + 10);
  EXPECT_EQ(stream.Read(back.data(), back.size()), 200000u);
  back.resize(200000);
  std::vector<std::uint8_t> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(back, expected);
  EXPECT_EQ(stream.Read(back.data(), 1), 0u);
}

TEST(FastMemStream, EmptyWriteChangesNothingAndClearReleases) {
  FastMemStream stream;
  stream.Write(nullptr, 0);
  EXPECT_EQ(stream.Capacity(), 0u);
  EXPECT_EQ(stream.Data(), nullptr);
  const auto bytes = Pattern(10, 3);
  stream.Write(bytes.data(), bytes.size());
  stream.Write(nullptr, 0);
  EXPECT_EQ(stream.Size(), 10u);
  stream.Clear();
  EXPECT_EQ(stream.Size(), 0u);
  EXPECT_EQ(stream.Position(), 0u);
  EXPECT_EQ(stream.Capacity(), 0u);
  EXPECT_EQ(stream.Data(), nullptr);
}

TEST(FastMemStream, OverwritesInPlaceAndFillsAGapWithZeros) {
  FastMemStream stream;
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  stream.Write(abc, 3);
  stream.SetPosition(1);
  stream.Write(abc, 1);
  EXPECT_EQ(stream.Size(), 3u);
  stream.SetPosition(5);
  stream.Write(abc + 2, 1);
  const std::vector<std::uint8_t> expected{'a', 'a', 'c', 0, 0, 'c'};
  EXPECT_EQ(std::vector<std::uint8_t>(stream.Data(), stream.Data() + stream.Size()), expected);
}

}  // namespace
}  // namespace zyp::pipes
