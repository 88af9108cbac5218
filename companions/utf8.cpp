#include "companions/utf8.h"

#include <windows.h>

namespace zyp::companions {

std::u16string FromUtf8(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  const char* source = reinterpret_cast<const char*>(bytes.data());
  const int count = static_cast<int>(bytes.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, source, count, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(length), u'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, source, count, reinterpret_cast<wchar_t*>(text.data()), length);
  return text;
}

std::string ToUtf8(std::u16string_view text) {
  if (text.empty()) return {};
  const wchar_t* source = reinterpret_cast<const wchar_t*>(text.data());
  const int count = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, source, count, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, source, count, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

}  // namespace zyp::companions
