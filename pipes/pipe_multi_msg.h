#pragma once
// One multi-packet message while it is being received. It is collected in a
// temporary file that the system deletes when it is closed, so its size is
// not bounded by memory; in memory when no such file can be made.
#include <windows.h>

#include <memory>

#include "pipes/stream.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

class PipeMultiMsg {
 public:
  PipeMultiMsg();
  ~PipeMultiMsg();
  PipeMultiMsg(const PipeMultiMsg&) = delete;
  PipeMultiMsg& operator=(const PipeMultiMsg&) = delete;

  // Writes append at the position; rewind before reading the message.
  Stream& MessageStream() { return *stream_; }

 private:
  // Declared first, so that the stream over it goes first.
  win32::UniqueHandle file_;
  std::unique_ptr<Stream> stream_;
};

}  // namespace zyp::pipes
