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
  using Status = platform::FileContent::Status;
  const UniqueHandle file(
      ::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw LastPlatformError();
  // The name was a file's when it was looked at; what was opened decides.
  BY_HANDLE_FILE_INFORMATION information{};
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return {Status::NotADiskFile, {}};
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) throw LastPlatformError();
  if (static_cast<std::uint64_t>(size.QuadPart) > maxSize) return {Status::TooLarge, {}};
  platform::FileContent content;
  content.bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  // Read to the end rather than trusting the size: the file may grow
  // meanwhile, but never beyond the limit.
  std::uint8_t buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr)) throw LastPlatformError();
    if (read == 0) return content;
    if (read > maxSize - content.bytes.size()) return {Status::TooLarge, {}};
    content.bytes.insert(content.bytes.end(), buffer, buffer + read);
  }
}

}  // namespace zyp::win32
