#pragma once
// The boundary between the portable code's UTF-16 texts and Win32's wchar_t
// strings (both UTF-16 on Windows), and the system's error messages.
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/error.h"

namespace zyp::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 text is UTF-16");

inline const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

inline std::wstring ToWide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

inline std::u16string FromWide(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// The system's text for an error code, without the trailing line break.
std::u16string SystemMessage(DWORD code);

}  // namespace zyp::win32
