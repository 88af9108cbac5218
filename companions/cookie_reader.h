#pragma once
// How the stand-in queue manager finds the cookies of an address it is given:
// the same file naming as the program's cookie store, and the file's one line
// read back from the ANSI code page, as the real queue manager reads it.
#include <optional>
#include <string>

#include "cookies/cookie_store.h"
#include "platform/win32/system_files.h"
#include "platform/win32/system_locale.h"

namespace zyp::companions {

class CookieReader {
 public:
  CookieReader();

  // The full path of the address's cookie file; empty when the address has
  // none.
  std::u16string FileName(const std::u16string& address) const;

  // The file's line without its line break; nothing when the address has no
  // cookie file or the file cannot be read.
  std::optional<std::u16string> Line(const std::u16string& address);

 private:
  win32::SystemFiles files_;
  win32::SystemLocale locale_;
  cookies::CookieStore store_;
};

}  // namespace zyp::companions
