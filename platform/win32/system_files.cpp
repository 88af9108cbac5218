#include "platform/win32/system_files.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/check.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {
namespace {

class SystemWritableFile final : public platform::WritableFile {
 public:
  explicit SystemWritableFile(UniqueHandle file) : file_(std::move(file)) {}

  void Write(const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000));
      DWORD written = 0;
      ThrowIfWin32BoolFalse(::WriteFile(file_.Get(), bytes, chunk, &written, nullptr), "WriteFile");
      // A disk that takes nothing would otherwise be asked for ever.
      if (written == 0) ThrowLastError("WriteFile", ERROR_WRITE_FAULT);
      bytes += written;
      size -= written;
    }
  }

 private:
  UniqueHandle file_;
};

// One try at reading the file while others may read but not write: the
// error code and the name of the failing call, or ERROR_SUCCESS with the
// content set.
// What was opened decides, not the name: a device, a pipe or a folder is not
// read (nor a handle that will not say what it is), nor a file over the limit. The file is read to its end rather than
// trusting its size, since it may grow meanwhile, but never beyond the limit.
DWORD ReadWhole(const std::u16string& path, std::uint64_t maxSize, platform::FileContent& content, const char*& call) {
  using Status = platform::FileContent::Status;
  call = "CreateFileW";
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
  call = "GetFileSizeEx";
  if (!::GetFileSizeEx(file.Get(), &size)) return ::GetLastError();
  if (static_cast<std::uint64_t>(size.QuadPart) > maxSize) {
    content = {Status::TooLarge, {}};
    return ERROR_SUCCESS;
  }
  content.bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  std::vector<std::uint8_t> buffer(65536);
  call = "ReadFile";
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
  ThrowLastErrorIf(length == 0, "GetTempPathW");
  // A result above the capacity is the size the path would need.
  if (length > capacity) ThrowLastError("GetTempPathW", ERROR_INSUFFICIENT_BUFFER);
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

void SystemFiles::MakeDirectory(const std::u16string& path) {
  ThrowIfWin32BoolFalse(::CreateDirectoryW(Wide(path), nullptr), "CreateDirectoryW");
}

std::unique_ptr<platform::WritableFile> SystemFiles::CreateForWriting(const std::u16string& path) {
  UniqueHandle file(::CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ThrowLastErrorIf(!file, "CreateFileW");
  return std::make_unique<SystemWritableFile>(std::move(file));
}

void SystemFiles::Remove(const std::u16string& path) {
  ThrowIfWin32BoolFalse(::DeleteFileW(Wide(path)), "DeleteFileW");
}

void SystemFiles::RemoveEmptyDirectory(const std::u16string& path) {
  ThrowIfWin32BoolFalse(::RemoveDirectoryW(Wide(path)), "RemoveDirectoryW");
}

platform::FileContent SystemFiles::ReadAll(const std::u16string& path, std::uint64_t maxSize) {
  // The caller may still be finishing its write, or a scanner looking at the
  // file: a file held that way is tried again for a moment before it counts
  // as unreadable.
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    platform::FileContent content;
    const char* call = "";
    const DWORD error = ReadWhole(path, maxSize, content, call);
    if (error == ERROR_SUCCESS) return content;
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    if (!held || ::GetTickCount64() - start >= kHeldFileRetryMs) ThrowLastError(call, error);
    ::Sleep(kHeldFileRetryPauseMs);
  }
}

}  // namespace zyp::win32
