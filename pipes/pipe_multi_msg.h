#pragma once
// One multi-packet message while it is being received. It is collected in a
// temporary file that the system deletes when it is closed, so its size is
// not bounded by memory; in memory when no such file can be made.
#include <windows.h>

#include <memory>
#include <string>

#include "pipes/stream.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

class TPipeMultiMsg {
 public:
  TPipeMultiMsg();
  ~TPipeMultiMsg();
  TPipeMultiMsg(const TPipeMultiMsg&) = delete;
  TPipeMultiMsg& operator=(const TPipeMultiMsg&) = delete;

  // Writes append at the position; rewind before reading the message.
  TStream& Stream() { return *FStream; }
  // The temporary file's path; empty when the message is kept in memory.
  const std::wstring& FileName() const { return file_name_; }

 private:
  win32::UniqueHandle FHandle;
  std::unique_ptr<TStream> FStream;
  std::wstring file_name_;
};

}  // namespace zyp::pipes
