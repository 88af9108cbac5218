#pragma once
// The current user's registry hive, one open key per operation. A failed
// call throws PlatformError naming it; a missing key or value is "not there".
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zyp::platform {

struct RegistryValue {
  std::uint32_t type = 0;  // REG_SZ 1, REG_EXPAND_SZ 2, ...
  std::vector<std::uint8_t> data;
};

// An open key; destruction closes it (RegCloseKey), without forcing a flush.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // RegQueryValueExW: the value's type and data; nothing when the value does
  // not exist.
  virtual std::optional<RegistryValue> Query(const std::u16string& name) = 0;
  // RegSetValueExW with REG_SZ and one terminating NUL.
  virtual void SetString(const std::u16string& name, const std::u16string& text) = 0;
  // RegDeleteValueW; a missing value is no failure.
  virtual void DeleteValue(const std::u16string& name) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // RegOpenKeyExW under HKEY_CURRENT_USER with KEY_ALL_ACCESS. Never creates
  // the key: null when it is missing. A refused access fails.
  virtual std::unique_ptr<RegistryKey> OpenCurrentUserKey(const std::u16string& path) = 0;
  // RegCreateKeyExW under HKEY_CURRENT_USER, non-volatile, with
  // KEY_QUERY_VALUE and KEY_SET_VALUE: opens the key, creating it and every
  // missing key above it. Never null.
  virtual std::unique_ptr<RegistryKey> CreateCurrentUserKey(const std::u16string& path) = 0;
  // RegDeleteKeyW under HKEY_CURRENT_USER: removes the key and its values,
  // never a key that has subkeys (the call refuses it with
  // ERROR_ACCESS_DENIED). False when the key is missing.
  virtual bool DeleteCurrentUserKey(const std::u16string& path) = 0;
};

}  // namespace zyp::platform
