#pragma once
// What a trace may show of a request: every cookie value masked. A cookie
// list keeps its names and loses its values, wherever it stands: on the
// command line, quoted or not, or on a line of a parameter file.
#include <string>
#include <string_view>
#include <vector>

namespace zyp::intake {

inline constexpr std::u16string_view kCookieListKeyword = u"cookielist=";
// Stands for a value that is not empty.
inline constexpr std::u16string_view kMaskedValue = u"***";

// The list's tokens as the cookie store cuts them (";" between tokens,
// blanks trimmed), each "name=***", "name=" when its value is empty, and
// "***" for a token without "=" (a browser may send a bare value); joined
// by "; ".
std::u16string MaskCookieList(std::u16string_view list);

// The names of the list's tokens that have a name and a "=".
std::vector<std::u16string> CookieNames(std::u16string_view list);

// An argument or a parameter-file line: a cookie list ("cookielist=", the
// letters A to Z folded) is masked, anything else is kept.
std::u16string MaskArgument(std::u16string_view argument);

// The raw command line up to its first NUL, with each argument that is a
// cookie list replaced by its masked form in double quotes; the rest stands
// as it came, quotes and blanks included.
std::u16string MaskCommandLine(std::u16string_view raw);

}  // namespace zyp::intake
