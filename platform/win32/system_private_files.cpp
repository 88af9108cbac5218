#include "platform/win32/system_private_files.h"

#include <windows.h>

#include <bcrypt.h>
#include <sddl.h>

#include <cstdint>
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

std::wstring RandomName() {
  std::uint8_t random[16];
  const NTSTATUS status = ::BCryptGenRandom(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (!BCRYPT_SUCCESS(status)) ThrowLastError("BCryptGenRandom", ERROR_GEN_FAILURE);
  std::wstring name = L"zyp-";
  constexpr wchar_t kHex[] = L"0123456789abcdef";
  for (const std::uint8_t byte : random) {
    name.push_back(kHex[byte >> 4]);
    name.push_back(kHex[byte & 0xF]);
  }
  return name + L".txt";
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

std::u16string SystemPrivateFiles::CreateTempFile(std::string_view bytes) {
  const std::wstring folder = TempFolder();
  const UniqueHlocal descriptor = UserOnlyDescriptor();
  SECURITY_ATTRIBUTES security{sizeof(security), descriptor.Get(), FALSE};
  for (int attempt = 1;; ++attempt) {
    const std::wstring path = folder + RandomName();
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

}  // namespace zyp::win32
