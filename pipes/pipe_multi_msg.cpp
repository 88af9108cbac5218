#include "pipes/pipe_multi_msg.h"

#include <algorithm>
#include <limits>

#include "pipes/fast_mem_stream.h"
#include "platform/win32/check.h"

namespace zyp::pipes {

namespace {

// A stream over an open file handle, which it does not own.
class HandleStream final : public Stream {
 public:
  explicit HandleStream(HANDLE file) : file_(file) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    std::size_t total = 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (total < count) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - total, kMaxChunk));
      DWORD read = 0;
      win32::ThrowIfWin32BoolFalse(::ReadFile(file_, out + total, chunk, &read, nullptr), "ReadFile");
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
      win32::ThrowIfWin32BoolFalse(::WriteFile(file_, in + total, chunk, &written, nullptr), "WriteFile");
      total += written;
    }
  }

  std::uint64_t Position() const override {
    LARGE_INTEGER position{};
    win32::ThrowIfWin32BoolFalse(::SetFilePointerEx(file_, LARGE_INTEGER{}, &position, FILE_CURRENT),
                                 "SetFilePointerEx");
    return static_cast<std::uint64_t>(position.QuadPart);
  }

  void SetPosition(std::uint64_t position) override {
    LARGE_INTEGER target{};
    target.QuadPart = static_cast<LONGLONG>(std::min<std::uint64_t>(position, std::numeric_limits<LONGLONG>::max()));
    win32::ThrowIfWin32BoolFalse(::SetFilePointerEx(file_, target, nullptr, FILE_BEGIN), "SetFilePointerEx");
  }

  std::uint64_t Size() const override {
    LARGE_INTEGER size{};
    win32::ThrowIfWin32BoolFalse(::GetFileSizeEx(file_, &size), "GetFileSizeEx");
    return static_cast<std::uint64_t>(size.QuadPart);
  }

 private:
  static constexpr std::size_t kMaxChunk = 1u << 30;
  HANDLE file_;
};

}  // namespace

PipeMultiMsg::PipeMultiMsg() {
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t name[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, folder);
  if (length != 0 && length <= MAX_PATH && ::GetTempFileNameW(folder, L"PMM", 0, name) != 0) {
    file_.Reset(::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    // The empty file made for the unique name; one we cannot delete stays
    // behind in the temporary folder, where the system's clean-up finds it.
    if (!file_) ::DeleteFileW(name);
  }
  // Without a file the message is collected in memory.
  if (file_)
    stream_ = std::make_unique<HandleStream>(file_.Get());
  else
    stream_ = std::make_unique<FastMemStream>();
}

// The system deletes the file when the handle closes.
PipeMultiMsg::~PipeMultiMsg() = default;

}  // namespace zyp::pipes
