#include "cookies/cookie_naming.h"

#include <array>
#include <cstdint>

#include "platform/ascii_text.h"
#include "platform/error.h"
#include "platform/error_codes.h"

namespace zyp::cookies {
namespace {

constexpr std::array<std::u16string_view, 8> kCommonDomainLabels = {u".com", u".co", u".org", u".net",
                                                                    u".gov", u".go", u".biz", u".mil"};

// Everything up to and including the last "\" or ":"; empty when there is neither.
std::u16string ParentPart(const std::u16string& path) {
  const std::size_t last = path.find_last_of(u"\\:");
  return last == std::u16string::npos ? std::u16string() : path.substr(0, last + 1);
}

}  // namespace

std::size_t FindDotFromEnd(std::u16string_view text, std::size_t n) {
  std::size_t seen = 0;
  for (std::size_t i = text.size(); i > 0; --i) {
    if (text[i - 1] == u'.' && ++seen == n) return i;
  }
  return 0;
}

bool IsCommonDomainLabel(std::u16string_view label) {
  for (const auto entry : kCommonDomainLabels)
    if (AsciiEqualIgnoreCase(label, entry)) return true;
  return false;
}

std::u16string GetCookieDomain(const std::u16string& address) {
  std::u16string_view h = address;
  // Both prefixes are tested, in this order and with exact letter case, so
  // "https://http://x" loses only its first prefix.
  if (h.starts_with(u"http://")) h.remove_prefix(7);
  if (h.starts_with(u"https://")) h.remove_prefix(8);
  h = h.substr(0, h.find(u'/'));
  h = h.substr(0, h.find(u':'));

  const std::size_t last = FindDotFromEnd(h, 1);
  const std::size_t second = FindDotFromEnd(h, 2);
  std::u16string_view topLabel, secondLabel;
  if (last > 0) {
    topLabel = h.substr(last - 1);
    if (second > 0) secondLabel = h.substr(second - 1, last - second);
  }

  std::u16string key;
  if (IsCommonDomainLabel(topLabel)) {
    key = topLabel;
  } else if (IsCommonDomainLabel(secondLabel)) {
    key = std::u16string(secondLabel) + std::u16string(topLabel);
  }
  if (!key.empty()) {
    // The first occurrence anywhere in the host, not the one at its end: the
    // queue manager cuts "img.comics.example.com" at ".comics" too.
    const std::u16string_view before = h.substr(0, h.find(key));
    const std::size_t dot = before.rfind(u'.');
    if (dot != std::u16string_view::npos) h.remove_prefix(dot + 1);
  }
  return std::u16string(h);
}

std::u16string MakeSafeFileName(const std::u16string& text) {
  std::u16string name = text;
  for (char16_t& c : name) {
    switch (c) {
      case u'"':
      case u'*':
      case u'/':
      case u':':
      case u'<':
      case u'>':
      case u'?':
      case u'\\':
      case u'|':
        c = u'_';
        break;
      default:
        if (c < 0x20) c = u'_';
    }
  }
  return name;
}

bool IsReservedDeviceName(std::u16string_view fileName) {
  // Windows looks only at the part before the first dot, without trailing blanks.
  std::u16string_view base = fileName.substr(0, fileName.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  // The console's two ends and the old clock device open from a plain name too.
  for (const std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$", u"CLOCK$"})
    if (AsciiEqualIgnoreCase(base, device)) return true;
  if (base.size() == 4 &&
      (AsciiEqualIgnoreCase(base.substr(0, 3), u"COM") || AsciiEqualIgnoreCase(base.substr(0, 3), u"LPT"))) {
    const char16_t digit = base[3];
    // The superscript digits one to three name the same ports.
    return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
  }
  return false;
}

bool CreateFolderPath(platform::Files& files, std::u16string path) {
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  const std::u16string parent = ParentPart(path);
  if ((path.size() == 2 && path[1] == u':') || files.DirectoryExists(path) || parent == path) return true;
  if (!parent.empty() && !CreateFolderPath(files, parent)) return false;
  try {
    files.MakeDirectory(path);
    return true;
  } catch (const PlatformError& error) {
    // Another process may create the folder between the test above and here.
    return error.Code() == platform::kErrorAlreadyExists;
  }
}

}  // namespace zyp::cookies
