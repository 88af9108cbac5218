#pragma once
// The standard handles a parent gives the browser host, read and written with
// ReadFile and WriteFile: bytes pass as they are, with no text mode of a C
// runtime that would stop at 0x1A or turn LF into CR LF.
#include <windows.h>

#include "platform/byte_streams.h"

namespace zyp::win32 {

class SystemByteInput final : public platform::ByteInput {
 public:
  // Not owned: the process's standard handle. Null or invalid reads as ended.
  explicit SystemByteInput(HANDLE handle) : handle_(handle) {}
  std::size_t Read(void* buffer, std::size_t size) override;

 private:
  HANDLE handle_;
};

class SystemByteOutput final : public platform::ByteOutput {
 public:
  // Not owned: the process's standard handle. Null or invalid fails to write.
  explicit SystemByteOutput(HANDLE handle) : handle_(handle) {}
  void Write(const void* data, std::size_t size) override;

 private:
  HANDLE handle_;
};

}  // namespace zyp::win32
