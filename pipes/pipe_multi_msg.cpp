#include "pipes/pipe_multi_msg.h"

#include <algorithm>
#include <limits>

#include "pipes/fast_mem_stream.h"
#include "platform/win32/wide_text.h"

namespace zyp::pipes {

namespace {

// A stream over an open file handle, which it does not own.
class THandleStream final : public TStream {
 public:
  explicit THandleStream(HANDLE file) : file_(file) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    std::size_t total = 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (total < count) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - total, kMaxChunk));
      DWORD read = 0;
      if (!::ReadFile(file_, out + total, chunk, &read, nullptr)) throw win32::LastPlatformError();
      if (read == 0) break;
      total += read;
    }
    return total;
  }

  void Write(const void* buffer, std::size_t count) override {
    std::size_t total = 0;
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    while (total < count) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - total, kMaxChunk));
      DWORD written = 0;
      if (!::WriteFile(file_, in + total, chunk, &written, nullptr)) throw win32::LastPlatformError();
      total += written;
    }
  }

  std::uint64_t Position() const override {
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(file_, LARGE_INTEGER{}, &position, FILE_CURRENT)) throw win32::LastPlatformError();
    return static_cast<std::uint64_t>(position.QuadPart);
  }

  void SetPosition(std::uint64_t position) override {
    LARGE_INTEGER target{};
    target.QuadPart = static_cast<LONGLONG>(std::min<std::uint64_t>(position, std::numeric_limits<LONGLONG>::max()));
    if (!::SetFilePointerEx(file_, target, nullptr, FILE_BEGIN)) throw win32::LastPlatformError();
  }

  std::uint64_t Size() const override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_, &size)) throw win32::LastPlatformError();
    return static_cast<std::uint64_t>(size.QuadPart);
  }

 private:
  static constexpr std::size_t kMaxChunk = 1u << 30;
  HANDLE file_;
};

}  // namespace

TPipeMultiMsg::TPipeMultiMsg() {
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t name[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, folder);
  if (length != 0 && length <= MAX_PATH && ::GetTempFileNameW(folder, L"PMM", 0, name) != 0) {
    FHandle.Reset(::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (FHandle)
      file_name_ = name;
    else
      ::DeleteFileW(name);  // the empty file made for the unique name
  }
  if (FHandle)
    FStream = std::make_unique<THandleStream>(FHandle.Get());
  else
    FStream = std::make_unique<TFastMemStream>();
}

TPipeMultiMsg::~TPipeMultiMsg() {
  FStream.reset();
  FHandle.Reset();  // the system deletes the file now
}

}  // namespace zyp::pipes
