#pragma once
// Registry keys and values as tests read and write them, in one registry
// view: what a program under test wrote, and a foreign program's keys beside
// them.
#include <windows.h>

#include <optional>
#include <string>

#include "platform/win32/scoped_handle.h"

namespace zyp::testing {

// A hive in one registry view, named for failure messages.
struct RegistryView {
  HKEY root;
  REGSAM view;
  const char* name;
};
inline const RegistryView kCurrentUser{HKEY_CURRENT_USER, KEY_WOW64_64KEY, "HKCU"};

// The key opened for reading; empty when it is missing.
win32::UniqueHkey OpenKey(const RegistryView& at, const std::wstring& path);
bool KeyExists(const RegistryView& at, const std::wstring& path);
// A text value (name nullptr: the key's default value), when there is one.
std::optional<std::wstring> TextValue(const RegistryView& at, const std::wstring& path, const wchar_t* name);
std::optional<DWORD> NumberValue(const RegistryView& at, const std::wstring& path, const wchar_t* name);
// Creates the key when it is missing and sets its default value; a failure
// fails the test.
void SetDefaultValue(const RegistryView& at, const std::wstring& path, const std::wstring& value);

}  // namespace zyp::testing
