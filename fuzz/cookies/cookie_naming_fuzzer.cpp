// Any address: the domain key is a piece of the address, and every file the
// store writes or deletes for it is a plain file directly inside the cookie
// folder.
#include <cstdlib>
#include <string_view>

#include "cookies/cookie_store.h"
#include "fuzz/fuzz_text.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"

namespace {

using zyp::cookies::CookieStore;

void Check(bool condition) {
  if (!condition) std::abort();
}

// A name that Windows resolves inside the folder it is given, as a file.
bool StaysInFolder(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (const char16_t c : name)
    if (c < 0x20 || c == u'\\' || c == u'/' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' ||
        c == u'>' || c == u'|')
      return false;
  // Windows drops trailing dots and blanks from a name.
  if (name.back() == u'.' || name.back() == u' ') return false;
  return !zyp::cookies::IsReservedDeviceName(name);
}

void CheckInFolder(const std::u16string& path, const std::u16string& folder) {
  Check(path.size() > folder.size() + 1 && path.starts_with(folder) && path[folder.size()] == u'\\');
  const std::u16string_view name = std::u16string_view(path).substr(folder.size() + 1);
  Check(name.ends_with(u".dat"));
  Check(StaysInFolder(name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string address = zyp::fuzz::Utf16FromBytes(data, size);

  const std::u16string key = zyp::cookies::GetCookieDomain(address);
  Check(address.find(key) != std::u16string::npos);
  const std::u16string safe = zyp::cookies::MakeSafeFileName(key);
  Check(safe.size() == key.size());

  zyp::fakes::FakeFiles files;
  zyp::fakes::FakeLocale locale;
  CookieStore store(files, locale);
  const std::u16string& folder = store.CookieFolder();
  const std::u16string path = store.GetCookieFileName(address);
  if (!path.empty()) CheckInFolder(path, folder);
  Check(path.empty() || path == folder + u"\\" + safe + u".dat");

  files.log.clear();
  store.WriteCookieFile(address, u"a=1");
  store.WriteCookieFile(address, u"");
  for (const std::u16string& entry : files.log) {
    const std::size_t space = entry.find(u' ');
    const std::u16string_view action = std::u16string_view(entry).substr(0, space);
    const std::u16string target = entry.substr(space + 1);
    if (action == u"mkdir") {
      Check(folder.starts_with(target));
    } else if (action == u"write") {
      CheckInFolder(target.substr(target.find(u' ') + 1), folder);
    } else {
      CheckInFolder(target, folder);
    }
  }
  return 0;
}
