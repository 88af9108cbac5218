#include "cookies/cookie_merge.h"

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zyp::cookies {
namespace {

// Blanks and control characters; U+007F and everything above stay.
std::u16string_view TrimControls(std::u16string_view text) {
  while (!text.empty() && text.front() <= u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() <= u' ') text.remove_suffix(1);
  return text;
}

struct Entry {
  std::u16string_view name;
  std::u16string_view value;
  std::size_t nextWithSameHash;
};

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The entries of one list, found by a hash of the locale's case-insensitive
// key and the name's length: names that the locale calls equal always share
// both, so only entries in the same chain need the comparison itself.
class EntryTable {
 public:
  explicit EntryTable(platform::Locale& locale) : locale_(locale) {}

  void Set(std::u16string_view name, std::u16string_view value) {
    const std::u16string text(name);
    const std::size_t hash = std::hash<std::string>{}(locale_.IgnoreCaseKey(text)) ^
                             (std::hash<std::size_t>{}(name.size()) * 0x9E3779B97F4A7C15ull);
    auto [chain, added] = chains_.try_emplace(hash, Chain{entries_.size(), entries_.size()});
    if (!added) {
      // Chains keep list order, so the first equal name found is the first in the list.
      for (std::size_t i = chain->second.first; i != kNone; i = entries_[i].nextWithSameHash) {
        if (entries_[i].name.size() == name.size() && locale_.EqualIgnoreCase(std::u16string(entries_[i].name), text)) {
          entries_[i].value = value;
          return;
        }
      }
      entries_[chain->second.last].nextWithSameHash = entries_.size();
      chain->second.last = entries_.size();
    }
    entries_.push_back(Entry{name, value, kNone});
  }

  std::u16string Line(std::size_t capacity) const {
    std::u16string line;
    line.reserve(capacity);
    for (const Entry& entry : entries_) {
      if (entry.value.empty()) continue;
      if (!line.empty()) line += u"; ";
      line += entry.name;
      line += u'=';
      line += entry.value;
    }
    return line;
  }

 private:
  struct Chain {
    std::size_t first;
    std::size_t last;
  };

  platform::Locale& locale_;
  std::vector<Entry> entries_;
  std::unordered_map<std::size_t, Chain> chains_;
};

}  // namespace

std::u16string_view FetchToken(std::u16string_view& source, std::u16string_view delimiter) {
  const std::size_t at = source.find(delimiter);
  if (at == std::u16string_view::npos) return std::exchange(source, std::u16string_view());
  const std::u16string_view token = source.substr(0, at);
  source.remove_prefix(at + delimiter.size());
  return token;
}

std::u16string MergeCookieList(const std::u16string& list, platform::Locale& locale) {
  EntryTable table(locale);
  std::u16string_view rest = list;
  do {
    std::u16string_view token = TrimControls(FetchToken(rest, u";"));
    const std::u16string_view name = FetchToken(token, u"=");
    // What is left of the token after the first "=" is the value, further "=" included.
    if (!name.empty()) table.Set(name, token);
  } while (!rest.empty());
  return table.Line(list.size());
}

}  // namespace zyp::cookies
