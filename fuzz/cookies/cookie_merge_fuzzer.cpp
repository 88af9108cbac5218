// Any cookie list: the merge gives exactly what the plain list lookup gives,
// with the locale's usual keys and with keys that all collide.
#include <cstdlib>
#include <vector>

#include "cookies/cookie_merge.h"
#include "fuzz/fuzz_text.h"
#include "tests/fakes/fake_locale.h"

namespace {

class OneKeyLocale : public zyp::fakes::FakeLocale {
 public:
  std::string IgnoreCaseKey(const std::u16string&) override { return {}; }
};

std::u16string Trim(std::u16string text) {
  while (!text.empty() && text.front() <= u' ') text.erase(0, 1);
  while (!text.empty() && text.back() <= u' ') text.pop_back();
  return text;
}

// Every name looked up in the list so far, one by one.
std::u16string PlainMerge(std::u16string list, zyp::platform::Locale& locale) {
  std::vector<std::u16string> names, values;
  do {
    const std::size_t semicolon = list.find(u';');
    std::u16string token = Trim(list.substr(0, semicolon));
    list = semicolon == std::u16string::npos ? std::u16string() : list.substr(semicolon + 1);
    const std::size_t equals = token.find(u'=');
    const std::u16string name = token.substr(0, equals);
    const std::u16string value = equals == std::u16string::npos ? std::u16string() : token.substr(equals + 1);
    if (name.empty()) continue;
    std::size_t i = 0;
    while (i < names.size() && !(names[i].size() == name.size() && locale.EqualIgnoreCase(names[i], name))) ++i;
    if (i < names.size()) {
      values[i] = value;
    } else {
      names.push_back(name);
      values.push_back(value);
    }
  } while (!list.empty());
  std::u16string line;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (!values[i].empty()) line += u"; " + names[i] + u"=" + values[i];
  return line.starts_with(u"; ") ? line.substr(2) : line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string list = zyp::fuzz::Utf16FromBytes(data, size);
  zyp::fakes::FakeLocale locale;
  OneKeyLocale oneKey;
  const std::u16string expected = PlainMerge(list, locale);
  if (zyp::cookies::MergeCookieList(list, locale) != expected) std::abort();
  if (zyp::cookies::MergeCookieList(list, oneKey) != expected) std::abort();
  return 0;
}
