#include "tests/support/settings_key_snapshot.h"

#include <gtest/gtest.h>

#include "platform/win32/scoped_handle.h"

namespace zyp::testing {

namespace {

constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Tarvesk Software";
constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Tarvesk Software\\Pelloran";

bool KeyExistsAt(const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

}  // namespace

SettingsKeySnapshot::SettingsKeySnapshot()
    : vendor_existed_(KeyExistsAt(kVendorKey)), key_existed_(KeyExistsAt(kSettingsKey)) {
  HKEY key = nullptr;
  if (!key_existed_ || ::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  const win32::UniqueHkey owned(key);
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = std::size(name);
    DWORD type = 0;
    DWORD size = 0;
    if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    Value value{std::wstring(name, nameLength), type, std::vector<std::uint8_t>(size)};
    DWORD read = size;
    nameLength = std::size(name);
    if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, value.data.data(), &read) == ERROR_SUCCESS) {
      value.data.resize(read);
      values_.push_back(std::move(value));
    }
  }
}

SettingsKeySnapshot::~SettingsKeySnapshot() {
  if (!vendor_existed_) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kVendorKey);
    return;
  }
  RemoveKey();
  if (!key_existed_) return;
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  const win32::UniqueHkey owned(key);
  for (const Value& value : values_)
    ::RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
}

bool SettingsKeySnapshot::KeyExists() { return KeyExistsAt(kSettingsKey); }

void SettingsKeySnapshot::RemoveKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }

void SettingsKeySnapshot::CreateKey() {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(key);
}

std::vector<std::wstring> SettingsKeySnapshot::ValueNames() {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  const win32::UniqueHkey owned(key);
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = std::size(name);
    if (::RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, nameLength);
  }
  return names;
}

void SettingsKeySnapshot::SetValue(const std::wstring& name, DWORD type, std::span<const std::uint8_t> data) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const win32::UniqueHkey owned(key);
  EXPECT_EQ(::RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
}

void SettingsKeySnapshot::SetText(const std::wstring& name, const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.c_str());
  SetValue(name, REG_SZ, std::span(bytes, (text.size() + 1) * sizeof(wchar_t)));
}

std::optional<std::wstring> SettingsKeySnapshot::Text(const std::wstring& name) {
  DWORD size = 0;
  if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  std::wstring value(size / sizeof(wchar_t), L'\0');
  if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name.c_str(), RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  value.resize(size / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return value;
}

bool SettingsKeySnapshot::ValueExists(const std::wstring& name) {
  return ::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

}  // namespace zyp::testing
