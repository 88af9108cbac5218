#pragma once
// The cookie store: one cookie file per site, in the folder "ZYP\cookies" of
// the user's temporary directory, holding the site's merged cookie list as
// one line in the ANSI code page. The queue manager reads these files.
#include <mutex>
#include <string>

#include "cookies/cookie_merge.h"
#include "cookies/cookie_naming.h"
#include "platform/files.h"
#include "platform/locale.h"

namespace zyp::cookies {

// The temporary directory followed by "ZYP\", which is created if it can be;
// empty when the temporary directory cannot be determined.
std::u16string GetAppTempFolder(platform::Files& files);

class CookieStore {
 public:
  // Creates the cookie folder if it can; a folder that cannot be created is
  // tried again before each write.
  CookieStore(platform::Files& files, platform::Locale& locale);
  ~CookieStore();
  CookieStore(const CookieStore&) = delete;
  CookieStore& operator=(const CookieStore&) = delete;

  // Replaces the address's cookie file with the merged list, or deletes the
  // file when the list is empty. Every failure is silent: the caller goes on
  // with its request whether or not the cookies were stored.
  void WriteCookieFile(const std::u16string& address, const std::u16string& cookieList);

  // The full path of the address's cookie file; empty when the address has
  // no domain key, when its name would open a device, or when the store has
  // no folder.
  std::u16string GetCookieFileName(const std::u16string& address) const;

  const std::u16string& CookieFolder() const { return cookieFolder_; }

 private:
  // Whether a cookie file may be written, and so deleted, at this path.
  static bool Storable(const std::u16string& path);
  void WriteLine(const std::u16string& path, const std::u16string& cookieList);

  platform::Files& files_;
  platform::Locale& locale_;
  std::u16string cookieFolder_;
  std::mutex cookieLock_;
};

}  // namespace zyp::cookies
