#include "platform/win32/system_private_files.h"

#include <windows.h>

#include <bcrypt.h>
#include <sddl.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/check.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_byte_streams.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {

namespace {

constexpr DWORD kTempPathCapacity = 32768;
// A name already taken means another program guessed 128 random bits: a
// few more tries settle it, and a folder that takes none fails.
constexpr int kNameTries = 4;

std::wstring TempFolder() {
  std::wstring folder(kTempPathCapacity, L'\0');
  const DWORD length = ::GetTempPathW(kTempPathCapacity, folder.data());
  ThrowLastErrorIf(length == 0, "GetTempPathW");
  if (length >= kTempPathCapacity) ThrowLastError("GetTempPathW", ERROR_INSUFFICIENT_BUFFER);
  folder.resize(length);
  return folder;
}

std::wstring RandomName(std::u16string_view prefix) {
  std::uint8_t random[16];
  const NTSTATUS status = ::BCryptGenRandom(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (!BCRYPT_SUCCESS(status)) ThrowLastError("BCryptGenRandom", ERROR_GEN_FAILURE);
  std::wstring name = ToWide(prefix);
  constexpr wchar_t kHex[] = L"0123456789abcdef";
  for (const std::uint8_t byte : random) {
    name.push_back(kHex[byte >> 4]);
    name.push_back(kHex[byte & 0xF]);
  }
  return name + ToWide(platform::kPrivateFileExtension);
}

std::uint64_t Ticks(const FILETIME& time) { return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

// Deletes the file at path when it is a regular file of one name last
// written more than age before now (both in 100 ns ticks). Checked and
// deleted through one handle, opened on the name itself, never on what a
// link points to, and shared with nobody: a file in use stays.
bool RemoveIfStale(const std::wstring& path, std::uint64_t now, std::uint64_t age) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open.
  const UniqueHandle file(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file.Get(), &info)) return false;
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      info.nNumberOfLinks != 1)
    return false;
  const std::uint64_t written = Ticks(info.ftLastWriteTime);
  // A write time ahead of the clock is no age.
  if (written > now || now - written <= age) return false;
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// The current user's SID in its text form.
std::wstring UserSid() {
  HANDLE rawToken = nullptr;
  ThrowIfWin32BoolFalse(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken), "OpenProcessToken");
  const UniqueHandle token(rawToken);
  DWORD size = 0;
  // Asks for the size: fails with ERROR_INSUFFICIENT_BUFFER by design.
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size);
  ThrowIfWin32BoolFalse(::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size),
                        "GetTokenInformation");
  wchar_t* text = nullptr;
  ThrowIfWin32BoolFalse(::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, &text),
                        "ConvertSidToStringSidW");
  const UniqueHlocal owned(static_cast<HLOCAL>(text));
  return text;
}

// Full access for the user and nobody else; protected, so the folder's
// inheritable entries are not added.
UniqueHlocal UserOnlyDescriptor() {
  const std::wstring sddl = L"D:P(A;;FA;;;" + UserSid() + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ThrowIfWin32BoolFalse(
      ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr),
      "ConvertStringSecurityDescriptorToSecurityDescriptorW");
  return UniqueHlocal(descriptor);
}

}  // namespace

std::u16string SystemPrivateFiles::CreateTempFile(std::u16string_view prefix, std::string_view bytes) {
  const std::wstring folder = TempFolder();
  const UniqueHlocal descriptor = UserOnlyDescriptor();
  SECURITY_ATTRIBUTES security{sizeof(security), descriptor.Get(), FALSE};
  for (int attempt = 1;; ++attempt) {
    const std::wstring path = folder + RandomName(prefix);
    UniqueHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS && attempt < kNameTries) continue;
      ThrowLastError("CreateFileW", error);
    }
    try {
      SystemByteOutput(file.Get()).Write(bytes.data(), bytes.size());
    } catch (...) {
      file.Reset();
      // A half-written request must not stay behind; a file that will not go
      // is left to the temporary folder's clean-up, the write's error says more.
      ::DeleteFileW(path.c_str());
      throw;
    }
    return FromWide(path);
  }
}

void SystemPrivateFiles::RemoveIfPresent(const std::u16string& path) {
  if (::DeleteFileW(Wide(path))) return;
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
  ThrowLastError("DeleteFileW", error);
}

std::size_t SystemPrivateFiles::RemoveStaleTempFiles(std::u16string_view prefix, std::uint64_t ageMs,
                                                     std::size_t maxNames) {
  const std::wstring folder = TempFolder();
  WIN32_FIND_DATAW found;
  // The pattern only narrows the listing (it matches short names too): each
  // name is checked exactly.
  const UniqueFind find(::FindFirstFileExW((folder + ToWide(prefix) + L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!find) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return 0;
    ThrowLastError("FindFirstFileExW", error);
  }
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  constexpr std::uint64_t kTicksPerMs = 10000;
  std::size_t names = 0;
  std::size_t removed = 0;
  do {
    if (!platform::IsPrivateFileName(FromWide(found.cFileName, std::wcslen(found.cFileName)), prefix)) continue;
    if (++names > maxNames) break;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
    if (RemoveIfStale(folder + found.cFileName, Ticks(now), ageMs * kTicksPerMs)) ++removed;
  } while (::FindNextFileW(find.Get(), &found));
  return removed;
}

}  // namespace zyp::win32
