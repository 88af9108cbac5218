#include "companions/environment.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace zyp::companions {

std::u16string EnvironmentText(std::u16string_view name) {
  const std::u16string key(name);
  const DWORD size = ::GetEnvironmentVariableW(win32::Wide(key), nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(win32::Wide(key), value.data(), size);
  value.resize(length < size ? length : 0);
  return win32::FromWide(value);
}

std::uint32_t EnvironmentNumber(std::u16string_view name, std::uint32_t fallback) {
  const std::u16string text = EnvironmentText(name);
  if (text.empty() || text.size() > 9) return fallback;
  std::uint32_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return fallback;
    value = value * 10 + (c - u'0');
  }
  return value;
}

}  // namespace zyp::companions
