#include "tests/support/registry_values.h"

#include <gtest/gtest.h>

namespace zyp::testing {

win32::UniqueHkey OpenKey(const RegistryView& at, const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(at.root, path.c_str(), 0, KEY_READ | at.view, &key) != ERROR_SUCCESS) return {};
  return win32::UniqueHkey(key);
}

bool KeyExists(const RegistryView& at, const std::wstring& path) { return static_cast<bool>(OpenKey(at, path)); }

std::optional<std::wstring> TextValue(const RegistryView& at, const std::wstring& path, const wchar_t* name) {
  const win32::UniqueHkey key = OpenKey(at, path);
  wchar_t value[2048] = {};
  DWORD size = sizeof value;
  if (!key || ::RegGetValueW(key.Get(), nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(value);
}

std::optional<DWORD> NumberValue(const RegistryView& at, const std::wstring& path, const wchar_t* name) {
  const win32::UniqueHkey key = OpenKey(at, path);
  DWORD value = 0;
  DWORD size = sizeof value;
  if (!key || ::RegGetValueW(key.Get(), nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return value;
}

void SetDefaultValue(const RegistryView& at, const std::wstring& path, const std::wstring& value) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(at.root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | at.view, nullptr, &key, nullptr),
            ERROR_SUCCESS)
      << at.name;
  const win32::UniqueHkey owner(key);
  ASSERT_EQ(::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

}  // namespace zyp::testing
