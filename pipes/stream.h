#pragma once
// A byte stream with a position: what a received pipe message is handed out
// as, whether it was collected in memory or in a temporary file.
#include <cstddef>
#include <cstdint>

namespace zyp::pipes {

class Stream {
 public:
  virtual ~Stream() = default;

  // Reads up to count bytes at the position and moves past them; returns how
  // many were read (0 at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes all count bytes at the position and moves past them; the size
  // grows when the write goes past the end. Raises when it cannot.
  virtual void Write(const void* buffer, std::size_t count) = 0;

  virtual std::uint64_t Position() const = 0;
  virtual void SetPosition(std::uint64_t position) = 0;
  virtual std::uint64_t Size() const = 0;
};

}  // namespace zyp::pipes
