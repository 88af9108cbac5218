#include "pipes/write_queue.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "pipes/framing.h"
#include "platform/scope_exit.h"
#include "platform/win32/check.h"

namespace zyp::pipes {

namespace {

// What a queued entry counts towards the memory throttle beyond its bytes.
constexpr std::uint32_t kEntryOverhead = 28;

std::uint32_t AccountedSize(const PipeWrite& write) { return static_cast<std::uint32_t>(write.count) + kEntryOverhead; }

PipeWritePtr AllocatePipeWrite(std::int64_t count) {
  if (count < 0 || count > std::numeric_limits<std::int32_t>::max())
    throw std::length_error("pipe write size out of range");
  auto write = std::make_unique<PipeWrite>();
  if (count > 0) write->buffer = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(count));
  write->count = static_cast<std::int32_t>(count);
  return write;
}

}  // namespace

PipeWritePtr NewPipeWrite(const void* source, std::int32_t count) {
  PipeWritePtr write = AllocatePipeWrite(count);
  if (count > 0) std::memcpy(write->buffer.get(), source, static_cast<std::size_t>(count));
  return write;
}

PipeWritePtr NewPrefixedPipeWrite(const void* prefix, std::int32_t prefixCount, const void* buffer,
                                  std::int32_t count) {
  if (prefixCount < 0 || count < 0) throw std::length_error("pipe write size out of range");
  PipeWritePtr write = AllocatePipeWrite(std::int64_t{prefixCount} + count);
  if (prefixCount > 0) std::memcpy(write->buffer.get(), prefix, static_cast<std::size_t>(prefixCount));
  if (count > 0) std::memcpy(write->buffer.get() + prefixCount, buffer, static_cast<std::size_t>(count));
  return write;
}

WriteQueue::WriteQueue()
    : data_event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      empty_event_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {
  win32::ThrowLastErrorIf(!data_event_ || !empty_event_, "CreateEventW");
}

WriteQueue::~WriteQueue() { DiscardAll(); }

bool WriteQueue::Empty() const {
  win32::CriticalSectionLock lock(lock_);
  return head_ == nullptr;
}

void WriteQueue::Enqueue(PipeWritePtr pipeWrite) {
  win32::CriticalSectionLock lock(lock_);
  if (!pipeWrite) return;
  // Also when a piece could not be queued: what is queued is to be written.
  const ScopeExit refresh([this] { RefreshEvents(); });
  if (pipeWrite->count <= kMaxPipeWrite)
    Append(std::move(pipeWrite));
  else
    Split(std::move(pipeWrite));
}

void WriteQueue::Append(PipeWritePtr pipeWrite) {
  auto node = std::make_unique<WriteNode>();
  const std::uint32_t size = AccountedSize(*pipeWrite);
  node->pipe_write = std::move(pipeWrite);
  WriteNode* added = node.get();
  if (tail_ == nullptr)
    head_ = std::move(node);
  else
    tail_->next_node = std::move(node);
  tail_ = added;
  data_size_.fetch_add(size, std::memory_order_relaxed);
  queued_.fetch_add(1, std::memory_order_release);
}

void WriteQueue::Split(PipeWritePtr pipeWrite) {
  // Held from the start packet to the end packet: nothing may come between
  // them, and the worker cannot take a piece before its end packet is queued.
  win32::CriticalSectionLock lock(lock_);
  EnqueueStartPacket();
  // The end packet closes the message also when a piece is missing, so a
  // receiver never appends the next message to this one.
  ScopeExit endOnError([this] {
    try {
      EnqueueEndPacket();
    } catch (...) {
      // A second error while the first one leaves: the first says more.
    }
  });
  const std::uint8_t* position = pipeWrite->buffer.get();
  for (std::int32_t left = pipeWrite->count; left > 0;) {
    const std::int32_t n = std::min(left, kMaxPipeWrite);
    Enqueue(NewPipeWrite(position, n));
    position += n;
    left -= n;
  }
  endOnError.Dismiss();
  EnqueueEndPacket();
}

void WriteQueue::EnqueueControlPacket(std::uint32_t marker) {
  win32::CriticalSectionLock lock(lock_);
  const ControlPacket packet = MakeControlPacket(marker);
  Enqueue(NewPipeWrite(packet.data(), static_cast<std::int32_t>(packet.size())));
}

void WriteQueue::EnqueueStartPacket() { EnqueueControlPacket(kStartMarker); }

void WriteQueue::EnqueueEndPacket() { EnqueueControlPacket(kEndMarker); }

PipeWritePtr WriteQueue::Dequeue() {
  win32::CriticalSectionLock lock(lock_);
  if (!head_) return nullptr;
  std::unique_ptr<WriteNode> node = std::move(head_);
  data_size_.fetch_sub(AccountedSize(*node->pipe_write), std::memory_order_relaxed);
  if (node.get() == tail_) tail_ = nullptr;
  head_ = std::move(node->next_node);
  PipeWritePtr result = std::move(node->pipe_write);
  RefreshEvents();
  return result;
}

void WriteQueue::DiscardAll() {
  win32::CriticalSectionLock lock(lock_);
  // The queue's own events: see RefreshEvents.
  ::ResetEvent(data_event_.Get());
  events_holding_ = false;
  // Unlinked one by one: a long chain must not be freed recursively.
  while (head_) head_ = std::move(head_->next_node);
  tail_ = nullptr;
  data_size_.store(0, std::memory_order_relaxed);
  ::SetEvent(empty_event_.Get());
}

void WriteQueue::RefreshEvents() {
  // Only a change of state reaches the system: each event call is a trip
  // into the kernel, and most writes leave the state as it was. The queue's
  // own events: setting them fails only for a handle that is no event.
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
