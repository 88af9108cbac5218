#pragma once
// The browsers' native-messaging frames: a 32-bit length in the machine's
// byte order (little-endian on every Windows machine), then that many bytes
// of UTF-8 JSON. Requests come in on the host's standard input, replies go
// out on its standard output.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/byte_streams.h"

namespace zyp::messaging {

// A longer request ends the host: it is never read, nor its memory reserved.
inline constexpr std::uint32_t kMaxRequestSize = std::uint32_t{64} << 20;
// Both browsers refuse a longer message from the host.
inline constexpr std::size_t kMaxReplySize = std::size_t{1} << 20;

struct Frame {
  enum class Status {
    Message,    // text holds one whole request
    End,        // the input ended between two frames
    Truncated,  // the input ended inside a frame
    TooLong,    // the length is over kMaxRequestSize: nothing more is read
  };
  Status status = Status::End;
  std::string text;
};

// Reads the next frame. The message grows with what arrives, so a length
// that the bytes never follow costs no more than the bytes that came.
Frame ReadFrame(platform::ByteInput& input);

// The length in front of the text, ready to be written in one piece.
std::string FrameText(std::string_view text);

}  // namespace zyp::messaging
