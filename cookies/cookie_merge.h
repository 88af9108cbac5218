#pragma once
// Folds a cookie list ("a=1; b=2; A=3") into the line a cookie file holds:
// one entry per name, letter case ignored as the user's locale decides.
#include <string>
#include <string_view>

#include "platform/locale.h"

namespace zyp::cookies {

// Returns the text before the first occurrence of delimiter and removes it
// and the delimiter from source; without the delimiter, returns the whole
// source and leaves it empty. Exact search: quotes mean nothing. A view, so
// that taking every token of a long list costs no more than reading it.
std::u16string_view FetchToken(std::u16string_view& source, std::u16string_view delimiter);

// Each name keeps the place and letter case of its first appearance and takes
// its last value; a name whose last value is empty is left out. Entries are
// joined by "; ". Runs in linear time, however long the list.
std::u16string MergeCookieList(const std::u16string& list, platform::Locale& locale);

}  // namespace zyp::cookies
