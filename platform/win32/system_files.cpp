#include "platform/win32/system_files.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {
namespace {

class SystemWritableFile final : public platform::WritableFile {
 public:
  explicit SystemWritableFile(UniqueHandle file) : file_(std::move(file)) {}

  bool Write(const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000));
      DWORD written = 0;
      if (!::WriteFile(file_.Get(), bytes, chunk, &written, nullptr) || written == 0) return false;
      bytes += written;
      size -= written;
    }
    return true;
  }

 private:
  UniqueHandle file_;
};

// One try at reading the file while others may read but not write: the
// error code of the failing call, or ERROR_SUCCESS with the content set.
// What was opened decides, not the name: a device, a pipe or a folder is not
// read, nor a file over the limit. The file is read to its end rather than
// trusting its size, since it may grow meanwhile, but never beyond the limit.
DWORD ReadWhole(const std::u16string& path, std::uint64_t maxSize, platform::FileContent& content) {
  using Status = platform::FileContent::Status;
  const UniqueHandle file(
      ::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ::GetLastError();
  BY_HANDLE_FILE_INFORMATION information{};
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    content = {Status::NotADiskFile, {}};
    return ERROR_SUCCESS;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) return ::GetLastError();
  if (static_cast<std::uint64_t>(size.QuadPart) > maxSize) {
    content = {Status::TooLarge, {}};
    return ERROR_SUCCESS;
  }
  content.bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  std::vector<std::uint8_t> buffer(65536);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      return ::GetLastError();
    if (read == 0) return ERROR_SUCCESS;
    if (read > maxSize - content.bytes.size()) {
      content = {Status::TooLarge, {}};
      return ERROR_SUCCESS;
    }
    content.bytes.insert(content.bytes.end(), buffer.begin(), buffer.begin() + read);
  }
}

DWORD Attributes(const std::u16string& path) {
  return path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(Wide(path));
}

}  // namespace

std::u16string SystemFiles::TempPath(std::uint32_t capacity) {
  std::wstring buffer(capacity + 1, L'\0');
  const DWORD length = ::GetTempPathW(capacity, buffer.data());
  // A result above the capacity is the size the path would need.
  if (length == 0 || length > capacity) return {};
  return FromWide(buffer.data(), length);
}

bool SystemFiles::DirectoryExists(const std::u16string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SystemFiles::FileExists(const std::u16string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void SystemFiles::ClearLastError() { ::SetLastError(0); }

std::uint32_t SystemFiles::LastError() { return ::GetLastError(); }

bool SystemFiles::MakeDirectory(const std::u16string& path) { return ::CreateDirectoryW(Wide(path), nullptr) != 0; }

std::unique_ptr<platform::WritableFile> SystemFiles::CreateForWriting(const std::u16string& path) {
  UniqueHandle file(::CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return nullptr;
  return std::make_unique<SystemWritableFile>(std::move(file));
}

bool SystemFiles::Remove(const std::u16string& path) { return ::DeleteFileW(Wide(path)) != 0; }

platform::FileContent SystemFiles::ReadAll(const std::u16string& path, std::uint64_t maxSize) {
  // The caller may still be finishing its write, or a scanner looking at the
  // file: a file held that way is tried again for a moment before it counts
  // as unreadable.
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    platform::FileContent content;
    const DWORD error = ReadWhole(path, maxSize, content);
    if (error == ERROR_SUCCESS) return content;
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    if (!held || ::GetTickCount64() - start >= kHeldFileRetryMs) throw LastPlatformError(error);
    ::Sleep(kHeldFileRetryPauseMs);
  }
}

}  // namespace zyp::win32
