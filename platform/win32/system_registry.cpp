#include "platform/win32/system_registry.h"

#include <windows.h>

#include "platform/win32/check.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {

namespace {

class SystemRegistryKey final : public platform::RegistryKey {
 public:
  explicit SystemRegistryKey(UniqueHkey key) : key_(std::move(key)) {}

  std::optional<platform::RegistryValue> Query(const std::u16string& name) override {
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(key_.Get(), Wide(name), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    // The value may change between the two calls; ask again until it fits.
    platform::RegistryValue value;
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
      value.data.resize(size);
      status = ::RegQueryValueExW(key_.Get(), Wide(name), nullptr, &type, value.data.data(), &size);
      if (status == ERROR_SUCCESS) {
        value.data.resize(size);
        value.type = type;
        return value;
      }
    }
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    ThrowLastError("RegQueryValueExW", static_cast<DWORD>(status));
  }

  void SetString(const std::u16string& name, const std::u16string& text) override {
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
    const LSTATUS status =
        ::RegSetValueExW(key_.Get(), Wide(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    ThrowIfWin32Error(status, "RegSetValueExW");
  }

  void DeleteValue(const std::u16string& name) override {
    const LSTATUS status = ::RegDeleteValueW(key_.Get(), Wide(name));
    if (status != ERROR_FILE_NOT_FOUND) ThrowIfWin32Error(status, "RegDeleteValueW");
  }

 private:
  UniqueHkey key_;
};

}  // namespace

std::unique_ptr<platform::RegistryKey> SystemRegistry::OpenCurrentUserKey(const std::u16string& path) {
  HKEY key = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path), 0, KEY_ALL_ACCESS, &key);
  if (status == ERROR_FILE_NOT_FOUND) return nullptr;
  ThrowIfWin32Error(status, "RegOpenKeyExW");
  return std::make_unique<SystemRegistryKey>(UniqueHkey(key));
}

std::unique_ptr<platform::RegistryKey> SystemRegistry::CreateCurrentUserKey(const std::u16string& path) {
  HKEY key = nullptr;
  const LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
  ThrowIfWin32Error(status, "RegCreateKeyExW");
  return std::make_unique<SystemRegistryKey>(UniqueHkey(key));
}

bool SystemRegistry::DeleteCurrentUserKey(const std::u16string& path) {
  const LSTATUS status = ::RegDeleteKeyW(HKEY_CURRENT_USER, Wide(path));
  if (status == ERROR_FILE_NOT_FOUND) return false;
  ThrowIfWin32Error(status, "RegDeleteKeyW");
  return true;
}

}  // namespace zyp::win32
