#include "pipes/write_queue.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "pipes/framing.h"
#include "platform/win32/wide_text.h"

namespace zyp::pipes {

namespace {

// What a queued entry counts towards the memory throttle beyond its bytes.
constexpr std::uint32_t kEntryOverhead = 28;

std::uint32_t AccountedSize(const TPipeWrite& write) {
  return static_cast<std::uint32_t>(write.Count) + kEntryOverhead;
}

PPipeWrite AllocatePipeWrite(std::int64_t count) {
  if (count < 0 || count > std::numeric_limits<std::int32_t>::max())
    throw std::length_error("pipe write size out of range");
  auto write = std::make_unique<TPipeWrite>();
  if (count > 0) write->Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(count));
  write->Count = static_cast<std::int32_t>(count);
  return write;
}

}  // namespace

PPipeWrite NewPipeWrite(const void* source, std::int32_t count) {
  PPipeWrite write = AllocatePipeWrite(count);
  if (count > 0) std::memcpy(write->Buffer.get(), source, static_cast<std::size_t>(count));
  return write;
}

PPipeWrite NewPrefixedPipeWrite(const void* prefix, std::int32_t prefixCount, const void* buffer, std::int32_t count) {
  if (prefixCount < 0 || count < 0) throw std::length_error("pipe write size out of range");
  PPipeWrite write = AllocatePipeWrite(std::int64_t{prefixCount} + count);
  if (prefixCount > 0) std::memcpy(write->Buffer.get(), prefix, static_cast<std::size_t>(prefixCount));
  if (count > 0) std::memcpy(write->Buffer.get() + prefixCount, buffer, static_cast<std::size_t>(count));
  return write;
}

void FreePipeWrite(PPipeWrite& write) { write.reset(); }

// The queue's re-entrant lock, held for one scope.
class TWriteQueue::Lock {
 public:
  explicit Lock(const TWriteQueue& queue) : lock_(queue.lock_) { lock_.Enter(); }
  ~Lock() { lock_.Leave(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  win32::CriticalSection& lock_;
};

TWriteQueue::TWriteQueue() {
  data_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!data_event_) throw win32::LastPlatformError();
  empty_event_.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  if (!empty_event_) throw win32::LastPlatformError();
}

TWriteQueue::~TWriteQueue() {
  DiscardAll();
  data_event_.Reset();
  empty_event_.Reset();
}

bool TWriteQueue::Empty() const {
  Lock lock(*this);
  return head_ == nullptr;
}

void TWriteQueue::Enqueue(PPipeWrite pipeWrite) {
  Lock lock(*this);
  if (!pipeWrite) return;
  try {
    if (pipeWrite->Count <= kMaxPipeWrite)
      Append(std::move(pipeWrite));
    else
      Split(std::move(pipeWrite));
  } catch (...) {
    RefreshEvents();
    throw;
  }
  RefreshEvents();
}

void TWriteQueue::Append(PPipeWrite pipeWrite) {
  auto node = std::make_unique<TWriteNode>();
  const std::uint32_t size = AccountedSize(*pipeWrite);
  node->PipeWrite = std::move(pipeWrite);
  TWriteNode* added = node.get();
  if (tail_ == nullptr)
    head_ = std::move(node);
  else
    tail_->NextNode = std::move(node);
  tail_ = added;
  data_size_.fetch_add(size, std::memory_order_relaxed);
  queued_.fetch_add(1, std::memory_order_release);
}

void TWriteQueue::Split(PPipeWrite pipeWrite) {
  // Held from the start packet to the end packet: nothing may come between
  // them, and the worker cannot take a piece before its end packet is queued.
  Lock lock(*this);
  std::exception_ptr failure;
  EnqueueStartPacket();
  try {
    const std::uint8_t* position = pipeWrite->Buffer.get();
    while (pipeWrite->Count > 0) {
      const std::int32_t n = std::min(pipeWrite->Count, kMaxPipeWrite);
      pipeWrite->Count -= n;
      Enqueue(NewPipeWrite(position, n));
      position += n;
    }
  } catch (...) {
    failure = std::current_exception();
  }
  // The end packet closes the message also when a piece is missing, so a
  // receiver never appends the next message to this one.
  EnqueueEndPacket();
  FreePipeWrite(pipeWrite);
  if (failure) std::rethrow_exception(failure);
}

void TWriteQueue::EnqueueControlPacket(std::uint32_t marker) {
  Lock lock(*this);
  const ControlPacket packet = MakeControlPacket(marker);
  Enqueue(NewPipeWrite(packet.data(), static_cast<std::int32_t>(packet.size())));
}

void TWriteQueue::EnqueueStartPacket() { EnqueueControlPacket(kStartMarker); }

void TWriteQueue::EnqueueEndPacket() { EnqueueControlPacket(kEndMarker); }

PPipeWrite TWriteQueue::Dequeue() {
  Lock lock(*this);
  if (!head_) return nullptr;
  std::unique_ptr<TWriteNode> node = std::move(head_);
  data_size_.fetch_sub(AccountedSize(*node->PipeWrite), std::memory_order_relaxed);
  if (node.get() == tail_) tail_ = nullptr;
  head_ = std::move(node->NextNode);
  PPipeWrite result = std::move(node->PipeWrite);
  RefreshEvents();
  return result;
}

void TWriteQueue::DiscardAll() {
  Lock lock(*this);
  ::ResetEvent(data_event_.Get());
  events_holding_ = false;
  // Unlinked one by one: a long chain must not be freed recursively.
  while (head_) head_ = std::move(head_->NextNode);
  tail_ = nullptr;
  data_size_.store(0, std::memory_order_relaxed);
  ::SetEvent(empty_event_.Get());
}

void TWriteQueue::RefreshEvents() {
  // Only a change of state reaches the system: each event call is a trip
  // into the kernel, and most writes leave the state as it was.
  const bool holding = head_ != nullptr;
  if (holding == events_holding_) return;
  events_holding_ = holding;
  if (holding) {
    ::SetEvent(data_event_.Get());
    ::ResetEvent(empty_event_.Get());
  } else {
    ::ResetEvent(data_event_.Get());
    ::SetEvent(empty_event_.Get());
  }
}

}  // namespace zyp::pipes
