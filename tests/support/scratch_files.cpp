#include "tests/support/scratch_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>

#include "platform/win32/scoped_handle.h"

namespace zyp::testing {

namespace {

using win32::UniqueFind;

std::wstring ScratchPath(std::wstring_view name) {
  return TempFolder() + L"zyp-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::wstring(name);
}

}  // namespace

std::wstring TempFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, folder);
  return folder;
}

std::size_t CountFiles(const std::wstring& folder, const wchar_t* pattern) {
  WIN32_FIND_DATAW data;
  const UniqueFind find(::FindFirstFileW((folder + pattern).c_str(), &data));
  if (!find) return 0;
  std::size_t count = 0;
  do ++count;
  while (::FindNextFileW(find.Get(), &data));
  return count;
}

bool SetWriteAge(const std::wstring& path, std::chrono::seconds age) {
  const win32::UniqueHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  constexpr std::int64_t kTicksPerSecond = 10000000;
  const std::uint64_t ticks = ((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime) -
                              static_cast<std::uint64_t>(age.count() * kTicksPerSecond);
  const FILETIME written{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  return ::SetFileTime(file.Get(), nullptr, nullptr, &written) != FALSE;
}

ScratchFile::ScratchFile(std::wstring_view name, std::string_view bytes) : path_(ScratchPath(name)) {
  const win32::UniqueHandle file(
      ::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  EXPECT_TRUE(file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size())
      << "cannot write " << std::string(path_.begin(), path_.end());
}

ScratchFile::~ScratchFile() { ::DeleteFileW(path_.c_str()); }

ScratchFolder::ScratchFolder(std::wstring_view name) : path_(ScratchPath(name) + L"\\") {
  EXPECT_TRUE(::CreateDirectoryW(path_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS)
      << "cannot make " << std::string(path_.begin(), path_.end());
}

ScratchFolder::~ScratchFolder() {
  WIN32_FIND_DATAW data;
  if (const UniqueFind find(::FindFirstFileW((path_ + L"*").c_str(), &data)); find) {
    do {
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) ::DeleteFileW((path_ + data.cFileName).c_str());
    } while (::FindNextFileW(find.Get(), &data));
  }
  ::RemoveDirectoryW(path_.c_str());
}

OwnTempFolder::OwnTempFolder() {
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableW(kNames[i], value, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH) saved_[i] = value;
    ::SetEnvironmentVariableW(kNames[i], folder_.Path().c_str());
  }
}

OwnTempFolder::~OwnTempFolder() {
  for (std::size_t i = 0; i < std::size(kNames); ++i)
    ::SetEnvironmentVariableW(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
}

}  // namespace zyp::testing
