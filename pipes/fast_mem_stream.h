#pragma once
// A memory stream that reserves generously, so that a pipe message is
// collected with few reallocations, and gives its memory back when cleared.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "pipes/stream.h"

namespace zyp::pipes {

class FastMemStream final : public Stream {
 public:
  FastMemStream() = default;
  FastMemStream(const FastMemStream&) = delete;
  FastMemStream& operator=(const FastMemStream&) = delete;
  ~FastMemStream() override;

  // The capacity reserved when capacity is asked for: small requests get
  // 65535 bytes of room on top, large ones a quarter more; 0 releases all.
  static std::size_t ReservedCapacity(std::size_t requested);

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::uint64_t Position() const override { return position_; }
  void SetPosition(std::uint64_t position) override;
  std::uint64_t Size() const override { return size_; }

  // Size and position 0, memory released.
  void Clear();
  std::size_t Capacity() const { return capacity_; }
  const std::uint8_t* Data() const { return memory_.get(); }

 private:
  void SetCapacity(std::size_t requested);

  // Grown with realloc, so it goes with free.
  struct FreeBlock {
    void operator()(std::uint8_t* block) const { std::free(block); }
  };
  std::unique_ptr<std::uint8_t, FreeBlock> memory_;
  std::size_t size_ = 0;
  std::size_t position_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace zyp::pipes
