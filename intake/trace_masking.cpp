#include "intake/trace_masking.h"

#include "cookies/cookie_merge.h"
#include "intake/command_line.h"
#include "platform/ascii_text.h"

namespace zyp::intake {

namespace {

// Calls visit(name, hasValueSign, value) for each token, cut as the cookie
// store cuts them.
template <typename Visit>
void ForEachToken(std::u16string_view list, Visit&& visit) {
  std::u16string_view rest = list;
  while (!rest.empty()) {
    std::u16string_view token = TrimBlanks(cookies::FetchToken(rest, u";"));
    if (token.empty()) continue;
    const bool hasValueSign = token.find(u'=') != std::u16string_view::npos;
    const std::u16string_view name = cookies::FetchToken(token, u"=");
    visit(name, hasValueSign, token);
  }
}

}  // namespace

std::u16string MaskCookieList(std::u16string_view list) {
  std::u16string masked;
  ForEachToken(list, [&](std::u16string_view name, bool hasValueSign, std::u16string_view value) {
    if (!masked.empty()) masked += u"; ";
    if (!hasValueSign) {
      masked += kMaskedValue;
      return;
    }
    masked += name;
    masked += u'=';
    if (!value.empty()) masked += kMaskedValue;
  });
  return masked;
}

std::vector<std::u16string> CookieNames(std::u16string_view list) {
  std::vector<std::u16string> names;
  ForEachToken(list, [&](std::u16string_view name, bool hasValueSign, std::u16string_view) {
    if (hasValueSign && !name.empty()) names.emplace_back(name);
  });
  return names;
}

std::u16string MaskArgument(std::u16string_view argument) {
  if (!AsciiStartsWithIgnoreCase(argument, kCookieListKeyword)) return std::u16string(argument);
  return std::u16string(argument.substr(0, kCookieListKeyword.size())) +
         MaskCookieList(argument.substr(kCookieListKeyword.size()));
}

std::u16string MaskCommandLine(std::u16string_view raw) {
  raw = raw.substr(0, raw.find(u'\0'));
  std::u16string masked;
  std::size_t kept = 0;
  for (const ArgumentSpan& span : SplitArgumentSpans(raw)) {
    if (!AsciiStartsWithIgnoreCase(span.text, kCookieListKeyword)) continue;
    masked += raw.substr(kept, span.begin - kept);
    masked += u'"';
    masked += MaskArgument(span.text);
    masked += u'"';
    kept = span.end;
  }
  masked += raw.substr(kept);
  return masked;
}

}  // namespace zyp::intake
