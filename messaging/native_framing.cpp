#include "messaging/native_framing.h"

#include <algorithm>

namespace zyp::messaging {

namespace {

constexpr std::size_t kLengthSize = 4;
// What one read asks for: enough for most requests, small against the limit.
constexpr std::size_t kReadChunk = std::size_t{64} << 10;

// Fills size bytes unless the input ends first; the count read.
std::size_t ReadFully(platform::ByteInput& input, char* into, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const std::size_t read = input.Read(into + done, size - done);
    if (read == 0) break;
    done += read;
  }
  return done;
}

}  // namespace

Frame ReadFrame(platform::ByteInput& input) {
  unsigned char length[kLengthSize];
  const std::size_t got = ReadFully(input, reinterpret_cast<char*>(length), kLengthSize);
  if (got == 0) return {Frame::Status::End, {}};
  if (got < kLengthSize) return {Frame::Status::Truncated, {}};
  const std::uint32_t size = std::uint32_t{length[0]} | std::uint32_t{length[1]} << 8 | std::uint32_t{length[2]} << 16 |
                             std::uint32_t{length[3]} << 24;
  if (size > kMaxRequestSize) return {Frame::Status::TooLong, {}};
  Frame frame{Frame::Status::Message, {}};
  while (frame.text.size() < size) {
    const std::size_t before = frame.text.size();
    frame.text.resize(before + std::min(kReadChunk, size - before));
    const std::size_t read = ReadFully(input, frame.text.data() + before, frame.text.size() - before);
    frame.text.resize(before + read);
    if (read == 0) return {Frame::Status::Truncated, {}};
  }
  return frame;
}

std::string FrameText(std::string_view text) {
  const auto size = static_cast<std::uint32_t>(text.size());
  std::string framed;
  framed.reserve(kLengthSize + text.size());
  for (int shift = 0; shift < 32; shift += 8) framed.push_back(static_cast<char>((size >> shift) & 0xFF));
  framed.append(text);
  return framed;
}

}  // namespace zyp::messaging
