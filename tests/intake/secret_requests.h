#pragma once
// Requests whose cookie values, and nothing else, hold characters from
// U+E000 to U+E0FF: a trace that shows any of those shows a cookie value.
// The argument texts, their quoting on the command line and the cookie lists'
// shapes are drawn from a source of bytes (a fuzzer's input or a seeded
// generator), so that one routine serves the property test and the fuzzer.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zyp::testing {

inline constexpr char16_t kSecretFirst = 0xE000;
inline constexpr char16_t kSecretLast = 0xE0FF;

class ByteSource {
 public:
  explicit ByteSource(std::function<std::uint8_t()> next) : next_(std::move(next)) {}
  std::uint8_t Byte() { return next_(); }
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : Byte() % n; }
  bool Chance(std::size_t inEight) { return Below(8) < inEight; }

 private:
  std::function<std::uint8_t()> next_;
};

struct SecretRequest {
  std::vector<std::u16string> arguments;  // the first is the address
  std::u16string commandLine;             // the program's path, then the arguments as quoted
};

namespace detail {

// Plain text: letters, digits, punctuation (never a quote, ";" or "="), and
// blanks, which the command line then has to quote.
inline std::u16string Plain(ByteSource& source, std::size_t maxLength, bool blanks) {
  static constexpr std::u16string_view kPlain = u"abcXYZ019-_.:/?&%+,()[]{}<>|*!\u00e9\u4e2d";
  std::u16string text;
  const std::size_t length = 1 + source.Below(maxLength);
  for (std::size_t i = 0; i < length; ++i) {
    if (blanks && source.Chance(1))
      text += source.Chance(4) ? u' ' : u'\t';
    else
      text += kPlain[source.Below(kPlain.size())];
  }
  return text;
}

// A value: at least one secret character, mixed with plain ones, blanks and
// (after a name) "=".
inline std::u16string SecretValue(ByteSource& source, bool afterName) {
  std::u16string value;
  const std::size_t length = 1 + source.Below(12);
  for (std::size_t i = 0; i < length; ++i) {
    const std::size_t pick = source.Below(8);
    if (pick < 3)
      value += static_cast<char16_t>(kSecretFirst + source.Byte());
    else if (pick == 3 && afterName)
      value += u'=';
    else if (pick == 4)
      value += u' ';
    else
      value += Plain(source, 1, false);
  }
  value += static_cast<char16_t>(kSecretFirst + source.Byte());
  if (source.Chance(4)) std::swap(value.front(), value.back());
  return value;
}

inline std::u16string CookieList(ByteSource& source) {
  std::u16string list;
  const std::size_t tokens = source.Below(6);
  for (std::size_t i = 0; i < tokens; ++i) {
    if (i > 0) list += source.Chance(4) ? u"; " : u";";
    if (source.Chance(1)) list += u"  ";
    if (source.Chance(1)) {
      list += SecretValue(source, false);  // a bare value, without a name
      continue;
    }
    list += Plain(source, 8, source.Chance(1));
    list += u'=';
    if (!source.Chance(1)) list += SecretValue(source, true);
  }
  return list;
}

inline std::u16string Keyword(ByteSource& source, std::u16string_view keyword) {
  std::u16string text(keyword);
  // Keywords match with the letters A to Z folded.
  for (char16_t& c : text)
    if (c >= u'a' && c <= u'z' && source.Chance(2)) c = static_cast<char16_t>(c - 32);
  return text;
}

// The argument as the command line carries it: blanks only inside quotes,
// and quotes opened and closed anywhere else at random.
inline std::u16string Quote(ByteSource& source, const std::u16string& argument, bool last) {
  std::u16string raw;
  bool open = false;
  for (const char16_t c : argument) {
    const bool blank = c <= u' ';
    if ((blank && !open) || (!blank && source.Chance(1))) {
      raw += u'"';
      open = !open;
    }
    raw += c;
  }
  // The last argument may run to the end without its closing quote.
  if (open && !(last && source.Chance(2))) raw += u'"';
  return raw;
}

}  // namespace detail

inline SecretRequest MakeSecretRequest(ByteSource& source) {
  SecretRequest request;
  request.arguments.push_back(u"http://www.sec" + detail::Plain(source, 6, false) + u".example.com/f");
  const std::size_t more = 1 + source.Below(7);
  for (std::size_t i = 0; i < more; ++i) {
    switch (source.Below(8)) {
      case 0:
      case 1:
      case 2:
        request.arguments.push_back(detail::Keyword(source, u"cookielist=") + detail::CookieList(source));
        break;
      case 3:
        request.arguments.push_back(detail::Keyword(source, u"pagetitle=") + detail::Plain(source, 10, true));
        break;
      case 4:
        request.arguments.push_back(detail::Keyword(source, u"linktext=") + detail::Plain(source, 10, true));
        break;
      case 5:
        request.arguments.push_back(u"cookies=FF");
        break;
      case 6:
        request.arguments.push_back(detail::Keyword(source, u"agent=") + detail::Plain(source, 10, true));
        break;
      default:
        request.arguments.push_back(detail::Plain(source, 6, true));
        break;
    }
  }
  request.commandLine = u"\"C:\\Program Files\\ZYP\\ZYPQueueAddURL.exe\"";
  for (std::size_t i = 0; i < request.arguments.size(); ++i) {
    request.commandLine += source.Chance(2) ? u"  " : u" ";
    request.commandLine += detail::Quote(source, request.arguments[i], i + 1 == request.arguments.size());
  }
  return request;
}

// True when the UTF-16 text or the UTF-8 bytes hold a secret character
// (U+E000 to U+E0FF is EE 80 80 to EE 83 BF).
inline bool HoldsSecret(std::u16string_view text) {
  for (const char16_t c : text)
    if (c >= kSecretFirst && c <= kSecretLast) return true;
  return false;
}
inline bool HoldsSecret(std::string_view utf8) {
  for (std::size_t i = 0; i + 1 < utf8.size(); ++i)
    if (static_cast<unsigned char>(utf8[i]) == 0xEE && (static_cast<unsigned char>(utf8[i + 1]) & 0xFC) == 0x80)
      return true;
  return false;
}

}  // namespace zyp::testing
