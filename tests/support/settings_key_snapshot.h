#pragma once
// The program's settings key in the registry, put back as it was when a
// test that changes it ends.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zyp::testing {

// The browser settings key of the current user (with its vendor key above
// it) as it was when the snapshot was taken, put back when it goes: a test
// may create, fill or remove the key meanwhile.
class SettingsKeySnapshot {
 public:
  SettingsKeySnapshot();
  ~SettingsKeySnapshot();
  SettingsKeySnapshot(const SettingsKeySnapshot&) = delete;
  SettingsKeySnapshot& operator=(const SettingsKeySnapshot&) = delete;

  static bool KeyExists();
  static void RemoveKey();
  // Creates the key (and its vendor key) when it is missing, with no values.
  static void CreateKey();
  // The names of the key's values; none when the key is missing.
  static std::vector<std::wstring> ValueNames();
  // Creates the key when it is missing and stores the value.
  static void SetValue(const std::wstring& name, DWORD type, std::span<const std::uint8_t> data);
  static void SetText(const std::wstring& name, const std::wstring& text);
  // A REG_SZ value, or nothing when it is missing or of another type.
  static std::optional<std::wstring> Text(const std::wstring& name);
  static bool ValueExists(const std::wstring& name);

 private:
  struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> data;
  };
  bool vendor_existed_ = false;
  bool key_existed_ = false;
  std::vector<Value> values_;
};

}  // namespace zyp::testing
