#include "pipes/fast_mem_stream.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace zyp::pipes {

namespace {
constexpr std::size_t kSmallGrowth = 65535;
}  // namespace

FastMemStream::~FastMemStream() = default;

std::size_t FastMemStream::ReservedCapacity(std::size_t requested) {
  if (requested == 0) return 0;
  if (requested <= kSmallGrowth) return requested + kSmallGrowth;
  if (requested > std::numeric_limits<std::size_t>::max() - requested / 4) throw std::bad_alloc();
  return requested + requested / 4;
}

void FastMemStream::SetCapacity(std::size_t requested) {
  const std::size_t reserved = ReservedCapacity(requested);
  if (reserved == 0) {
    memory_.reset();
  } else if (!memory_) {
    auto* block = static_cast<std::uint8_t*>(std::calloc(reserved, 1));
    if (block == nullptr) throw std::bad_alloc();
    memory_.reset(block);
  } else {
    auto* block = static_cast<std::uint8_t*>(std::realloc(memory_.get(), reserved));
    if (block == nullptr) throw std::bad_alloc();
    static_cast<void>(memory_.release());  // realloc has taken the old block
    memory_.reset(block);
  }
  capacity_ = reserved;
}

std::size_t FastMemStream::Read(void* buffer, std::size_t count) {
  if (position_ >= size_ || count == 0) return 0;
  const std::size_t n = count < size_ - position_ ? count : size_ - position_;
  std::memcpy(buffer, memory_.get() + position_, n);
  position_ += n;
  return n;
}

void FastMemStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return;
  if (count > std::numeric_limits<std::size_t>::max() - position_) throw std::bad_alloc();
  const std::size_t end = position_ + count;
  if (end > capacity_) SetCapacity(end);
  if (position_ > size_) std::memset(memory_.get() + size_, 0, position_ - size_);
  std::memcpy(memory_.get() + position_, buffer, count);
  position_ = end;
  if (end > size_) size_ = end;
}

void FastMemStream::SetPosition(std::uint64_t position) {
  position_ = position > std::numeric_limits<std::size_t>::max() ? std::numeric_limits<std::size_t>::max()
                                                                 : static_cast<std::size_t>(position);
}

void FastMemStream::Clear() {
  size_ = 0;
  position_ = 0;
  SetCapacity(0);
}

}  // namespace zyp::pipes
