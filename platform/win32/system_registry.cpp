#include "platform/win32/system_registry.h"

#include <windows.h>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {

namespace {

class SystemRegistryKey final : public platform::RegistryKey {
 public:
  explicit SystemRegistryKey(HKEY key) : key_(key) {}

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
    throw LastPlatformError(static_cast<DWORD>(status));
  }

  void SetString(const std::u16string& name, const std::u16string& text) override {
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
    const LSTATUS status =
        ::RegSetValueExW(key_.Get(), Wide(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    if (status != ERROR_SUCCESS) throw LastPlatformError(static_cast<DWORD>(status));
  }

  void DeleteValue(const std::u16string& name) override { ::RegDeleteValueW(key_.Get(), Wide(name)); }

 private:
  UniqueHkey key_;
};

}  // namespace

std::unique_ptr<platform::RegistryKey> SystemRegistry::OpenCurrentUserKey(const std::u16string& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return nullptr;
  return std::make_unique<SystemRegistryKey>(key);
}

}  // namespace zyp::win32
