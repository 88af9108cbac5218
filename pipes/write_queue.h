#pragma once
// The client's outgoing writes, in order, shared between the thread that
// queues them and the worker that puts them on the pipe. Long writes are cut
// into a start packet, pieces of at most 65534 bytes and an end packet here,
// so the worker only ever sees single pipe messages.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

// One pending write: a block of exactly count bytes that it owns.
struct PipeWrite {
  std::unique_ptr<std::uint8_t[]> buffer;
  std::int32_t count = 0;
};
// Whoever holds it owns the write.
using PipeWritePtr = std::unique_ptr<PipeWrite>;

// A copy of count bytes at source. A negative count raises std::length_error.
PipeWritePtr NewPipeWrite(const void* source, std::int32_t count);
// One write holding the prefix bytes followed by the buffer bytes.
PipeWritePtr NewPrefixedPipeWrite(const void* prefix, std::int32_t prefixCount, const void* buffer, std::int32_t count);

struct WriteNode {
  PipeWritePtr pipe_write;
  std::unique_ptr<WriteNode> next_node;
};

class WriteQueue {
 public:
  // Raises the platform error when an event cannot be made.
  WriteQueue();
  ~WriteQueue();
  WriteQueue(const WriteQueue&) = delete;
  WriteQueue& operator=(const WriteQueue&) = delete;

  // Takes the write; a null write is ignored.
  void Enqueue(PipeWritePtr pipeWrite);
  void EnqueueStartPacket();
  void EnqueueEndPacket();
  // The oldest entry, or null when there is none.
  PipeWritePtr Dequeue();
  void DiscardAll();

  // Signalled while at least one entry is queued.
  HANDLE DataEvent() const { return data_event_.Get(); }
  // Signalled while the queue is empty.
  HANDLE EmptyEvent() const { return empty_event_.Get(); }
  // Every entry counts its size + 28 bytes.
  std::uint32_t DataSize() const { return data_size_.load(std::memory_order_relaxed); }
  bool Empty() const;

  // The worker calls this once an entry's write has completed: its bytes are
  // in the pipe, read by the server or not.
  void MarkWritten() { written_.fetch_add(1, std::memory_order_release); }
  // Every entry queued so far is in the pipe; false once any was discarded.
  bool AllWritten() const {
    return written_.load(std::memory_order_acquire) == queued_.load(std::memory_order_acquire);
  }

 private:
  void Append(PipeWritePtr pipeWrite);
  void Split(PipeWritePtr pipeWrite);
  void EnqueueControlPacket(std::uint32_t marker);
  void RefreshEvents();

  // Re-entrant, and taken without a trip into the kernel while no other
  // thread holds it: a kernel mutex costs two system calls per write on
  // each side.
  mutable win32::CriticalSection lock_;
  win32::UniqueHandle data_event_;
  win32::UniqueHandle empty_event_;
  std::atomic<std::uint32_t> data_size_{0};
  std::atomic<std::uint64_t> queued_{0};
  std::atomic<std::uint64_t> written_{0};
  std::unique_ptr<WriteNode> head_;
  WriteNode* tail_ = nullptr;
  // The state the two events were last set to: true while data was queued.
  bool events_holding_ = false;
};

}  // namespace zyp::pipes
