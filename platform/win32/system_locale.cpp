#include "platform/win32/system_locale.h"

#include <windows.h>

#include <climits>

#include "platform/win32/check.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {
namespace {

// The conversion calls count in int; longer texts are refused, not cut.
int CheckedLength(std::size_t length, const char* call) {
  if (length > static_cast<std::size_t>(INT_MAX)) ThrowLastError(call, ERROR_ARITHMETIC_OVERFLOW);
  return static_cast<int>(length);
}

}  // namespace

SystemLocale::SystemLocale() : ansiCodePage_(::GetACP()) {}

std::string SystemLocale::ToCodePage(std::uint32_t codePage, const std::u16string& text) {
  if (text.empty()) return {};
  const int length = CheckedLength(text.size(), "WideCharToMultiByte");
  const int size = ::WideCharToMultiByte(codePage, 0, Wide(text), length, nullptr, 0, nullptr, nullptr);
  ThrowLastErrorIf(size == 0, "WideCharToMultiByte");
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ThrowLastErrorIf(::WideCharToMultiByte(codePage, 0, Wide(text), length, bytes.data(), size, nullptr, nullptr) == 0,
                   "WideCharToMultiByte");
  return bytes;
}

std::u16string SystemLocale::FromCodePage(std::uint32_t codePage, const std::string& bytes) {
  if (bytes.empty()) return {};
  const int length = CheckedLength(bytes.size(), "MultiByteToWideChar");
  const int size = ::MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
  ThrowLastErrorIf(size == 0, "MultiByteToWideChar");
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  ThrowLastErrorIf(::MultiByteToWideChar(codePage, 0, bytes.data(), length, text.data(), size) == 0,
                   "MultiByteToWideChar");
  return FromWide(text);
}

bool SystemLocale::EqualIgnoreCase(const std::u16string& a, const std::u16string& b) {
  const int order =
      ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, Wide(a), CheckedLength(a.size(), "CompareStringW"),
                       Wide(b), CheckedLength(b.size(), "CompareStringW"));
  ThrowLastErrorIf(order == 0, "CompareStringW");
  return order == CSTR_EQUAL;
}

std::string SystemLocale::IgnoreCaseKey(const std::u16string& text) {
  // The call refuses a length of 0; an empty text is passed as a terminated one.
  const wchar_t* source = text.empty() ? L"" : Wide(text);
  const int length = text.empty() ? -1 : CheckedLength(text.size(), "LCMapStringW");
  const DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
  const int size = ::LCMapStringW(LOCALE_USER_DEFAULT, flags, source, length, nullptr, 0);
  ThrowLastErrorIf(size == 0, "LCMapStringW");
  std::string key(static_cast<std::size_t>(size), '\0');
  ThrowLastErrorIf(
      ::LCMapStringW(LOCALE_USER_DEFAULT, flags, source, length, reinterpret_cast<wchar_t*>(key.data()), size) == 0,
      "LCMapStringW");
  return key;
}

}  // namespace zyp::win32
