#include "platform/win32/system_byte_streams.h"

#include <algorithm>
#include <cstdint>

#include "platform/win32/check.h"

namespace zyp::win32 {

namespace {

constexpr std::size_t kLargestCall = 0x40000000;

bool Present(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

}  // namespace

std::size_t SystemByteInput::Read(void* buffer, std::size_t size) {
  if (!Present(handle_) || size == 0) return 0;
  DWORD read = 0;
  if (::ReadFile(handle_, buffer, static_cast<DWORD>(std::min(size, kLargestCall)), &read, nullptr)) return read;
  const DWORD error = ::GetLastError();
  // The writer closed its end: the input is over.
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF || error == ERROR_INVALID_HANDLE) return 0;
  ThrowLastError("ReadFile", error);
}

void SystemByteOutput::Write(const void* data, std::size_t size) {
  if (!Present(handle_)) ThrowLastError("WriteFile", ERROR_INVALID_HANDLE);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    DWORD written = 0;
    ThrowIfWin32BoolFalse(
        ::WriteFile(handle_, bytes, static_cast<DWORD>(std::min(size, kLargestCall)), &written, nullptr), "WriteFile");
    // A reader that takes nothing would otherwise be offered the bytes for ever.
    if (written == 0) ThrowLastError("WriteFile", ERROR_WRITE_FAULT);
    bytes += written;
    size -= written;
  }
}

}  // namespace zyp::win32
