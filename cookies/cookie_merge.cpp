#include "cookies/cookie_merge.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/ascii_text.h"

namespace zyp::cookies {
namespace {

// Places in the list and entry numbers are 32 bits wide to keep the tables
// small: a list of four billion characters would be 8 GB of text.
using Index = std::uint32_t;
constexpr Index kNone = static_cast<Index>(-1);

// One "name=value" token of the list, by its place in the list. A name
// length of 0 marks a token whose value went to an earlier equal name.
struct Entry {
  Index nameAt, nameLength, valueAt, valueLength;
  std::uint32_t hash;
  Index nextWithSameHash;  // the entry before it with the same hash
};

// The list's tokens, then a merge of equal names. Equal names are found by a
// hash of the locale's case-insensitive key and the name's length: names
// that the locale calls equal always share both, so only entries with the
// same hash need the comparison itself.
//
// The hashes are all taken first, so that the table is then walked in a
// tight loop: a million names miss the cache in the table side by side
// rather than one after another, and the time stays linear in the length of
// the list.
class CookieEntries {
 public:
  CookieEntries(const std::u16string& list, platform::Locale& locale) : list_(list), locale_(locale) {
    if (list.size() >= kNone) throw std::length_error("cookie list too long");
    std::u16string_view rest = list;
    do {
      std::u16string_view token = TrimBlanks(FetchToken(rest, u";"));
      const std::u16string_view name = FetchToken(token, u"=");
      // What is left of the token after the first "=" is the value, further "=" included.
      if (name.empty()) continue;
      const Index valueAt = token.empty() ? 0 : At(token);
      entries_.push_back(Entry{At(name), Index(name.size()), valueAt, Index(token.size()), Hash(name), kNone});
    } while (!rest.empty());
  }

  // Moves each value to the first entry with an equal name and drops the later ones.
  void Merge() {
    std::size_t size = 16;
    while (size < 2 * entries_.size()) size *= 2;
    std::vector<Index> newest(size, kNone);
    const std::size_t mask = size - 1;
    for (Index e = 0; e < entries_.size(); ++e) {
      Entry& entry = entries_[e];
      std::size_t place = entry.hash & mask;
      while (newest[place] != kNone && entries_[newest[place]].hash != entry.hash) place = (place + 1) & mask;
      // Newer entries stand first in a chain, so the last equal name met is
      // the first in the list.
      Index match = kNone;
      for (Index i = newest[place]; i != kNone; i = entries_[i].nextWithSameHash)
        if (entries_[i].nameLength == entry.nameLength && Equal(entries_[i], entry)) match = i;
      if (match != kNone) {
        entries_[match].valueAt = entry.valueAt;
        entries_[match].valueLength = entry.valueLength;
        entry.nameLength = 0;
      } else {
        entry.nextWithSameHash = newest[place];
        newest[place] = e;
      }
    }
  }

  std::u16string Line() const {
    const std::u16string_view list = list_;
    std::size_t length = 0;
    for (const Entry& entry : entries_)
      if (entry.nameLength != 0 && entry.valueLength != 0) length += entry.nameLength + entry.valueLength + 3;
    std::u16string line;
    line.reserve(length);
    for (const Entry& entry : entries_) {
      if (entry.nameLength == 0 || entry.valueLength == 0) continue;
      if (!line.empty()) line += u"; ";
      line += list.substr(entry.nameAt, entry.nameLength);
      line += u'=';
      line += list.substr(entry.valueAt, entry.valueLength);
    }
    return line;
  }

 private:
  Index At(std::u16string_view piece) const { return static_cast<Index>(piece.data() - list_.data()); }

  std::uint32_t Hash(std::u16string_view name) {
    name_.assign(name);
    const std::uint64_t hash =
        std::hash<std::string>{}(locale_.IgnoreCaseKey(name_)) ^ (std::uint64_t{name.size()} * 0x9E3779B97F4A7C15ull);
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
  }

  bool Equal(const Entry& a, const Entry& b) {
    name_.assign(list_, a.nameAt, a.nameLength);
    other_.assign(list_, b.nameAt, b.nameLength);
    return locale_.EqualIgnoreCase(name_, other_);
  }

  const std::u16string& list_;
  platform::Locale& locale_;
  std::vector<Entry> entries_;
  std::u16string name_, other_;
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
  CookieEntries entries(list, locale);
  entries.Merge();
  return entries.Line();
}

}  // namespace zyp::cookies
