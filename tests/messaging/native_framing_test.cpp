#include "messaging/native_framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace zyp::messaging {
namespace {

// Hands out the bytes a few at a time, as a pipe may, and counts them.
class ChoppyInput : public platform::ByteInput {
 public:
  ChoppyInput(std::string bytes, std::size_t chop) : bytes_(std::move(bytes)), chop_(chop) {}
  std::size_t Read(void* buffer, std::size_t size) override {
    const std::size_t count = std::min({size, chop_, bytes_.size() - at_});
    std::memcpy(buffer, bytes_.data() + at_, count);
    at_ += count;
    return count;
  }
  std::size_t Taken() const { return at_; }

 private:
  std::string bytes_;
  std::size_t chop_;
  std::size_t at_ = 0;
};

TEST(NativeFraming, ReadsWholeMessagesHoweverTheBytesArrive) {
  const std::string big(200000, 'x');
  const std::string stream = FrameText("{}") + FrameText("") + FrameText(big);
  for (const std::size_t chop : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
    ChoppyInput input(stream, chop);
    EXPECT_EQ(ReadFrame(input).text, "{}");
    const Frame empty = ReadFrame(input);
    EXPECT_EQ(empty.status, Frame::Status::Message);
    EXPECT_EQ(empty.text, "");
    EXPECT_EQ(ReadFrame(input).text, big);
    EXPECT_EQ(ReadFrame(input).status, Frame::Status::End);
  }
}

TEST(NativeFraming, LengthIsLittleEndian) {
  EXPECT_EQ(FrameText(std::string(0x010203, 'a')).substr(0, 4), std::string("\x03\x02\x01\x00", 4));
}

TEST(NativeFraming, InputEndingInsideAFrameIsTruncated) {
  const std::string whole = FrameText("{\"type\":\"status\"}");
  for (const std::size_t cut : {std::size_t{1}, std::size_t{3}, std::size_t{4}, whole.size() - 1}) {
    ChoppyInput input(whole.substr(0, cut), 2);
    EXPECT_EQ(ReadFrame(input).status, Frame::Status::Truncated) << "cut after " << cut << " bytes";
  }
}

TEST(NativeFraming, LengthOverTheLimitIsRefusedUnread) {
  ChoppyInput atLimit(std::string("\x00\x00\x00\x04", 4), 4);
  EXPECT_EQ(ReadFrame(atLimit).status, Frame::Status::Truncated);  // 64 MiB is allowed, but never came
  for (const std::string& length : {std::string("\x01\x00\x00\x04", 4), std::string("\xff\xff\xff\xff", 4)}) {
    ChoppyInput input(length + std::string(1000, 'x'), 1 << 20);
    EXPECT_EQ(ReadFrame(input).status, Frame::Status::TooLong);
    EXPECT_EQ(input.Taken(), 4u) << "nothing after the length is read";
  }
}

}  // namespace
}  // namespace zyp::messaging
