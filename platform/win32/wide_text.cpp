#include "platform/win32/wide_text.h"

#include "platform/win32/scoped_handle.h"

namespace zyp::win32 {

std::u16string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const UniqueHlocal owner(buffer);
  std::u16string message;
  if (length != 0 && buffer != nullptr) message = FromWide(buffer, length);
  while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' '))
    message.pop_back();
  if (message.empty()) message = u"System Error.  Code: " + FromWide(std::to_wstring(code)) + u".";
  return message;
}

}  // namespace zyp::win32
