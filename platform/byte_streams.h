#pragma once
// The browser host's standard input and output: plain byte streams, with no
// text translation of any kind. A failed call throws PlatformError naming it.
#include <cstddef>

namespace zyp::platform {

class ByteInput {
 public:
  virtual ~ByteInput() = default;
  // ReadFile: blocks until at least one byte is there; 0 once the input has
  // ended (the writer closed it, or the handle is missing or broken).
  virtual std::size_t Read(void* buffer, std::size_t size) = 0;
};

class ByteOutput {
 public:
  virtual ~ByteOutput() = default;
  // WriteFile of all bytes, in one piece with respect to other writers of
  // this object.
  virtual void Write(const void* data, std::size_t size) = 0;
};

}  // namespace zyp::platform
