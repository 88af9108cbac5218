#pragma once
// How an address becomes the name of its site's cookie file: the host is cut
// out of the address, shortened to a domain key and made safe for a file
// name. The queue manager derives the same names, so every rule here binds.
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace zyp::cookies {

// Position (from 1) of the n-th "." counted from the end of text; 0 when the
// text holds fewer than n dots.
std::size_t FindDotFromEnd(std::u16string_view text, std::size_t n);

// True for one of the common labels ".com", ".co", ".org", ".net", ".gov",
// ".go", ".biz", ".mil", with only the ASCII letters folded.
bool IsCommonDomainLabel(std::u16string_view label);

// The domain key of an address (may be empty).
std::u16string GetCookieDomain(const std::u16string& address);

// Replaces each character that a file name cannot hold with "_"; the result
// has the same length.
std::u16string MakeSafeFileName(const std::u16string& text);

// True when Windows would open a device instead of a file for this file name
// (CON, PRN, AUX, NUL, CONIN$, CONOUT$, CLOCK$, COM0 to COM9, LPT0 to LPT9,
// also with an extension).
bool IsReservedDeviceName(std::u16string_view fileName);

// Creates a folder together with any missing parent folders, starting with
// the one nearest the drive root. A folder that appears while it is being
// created counts as created.
bool CreateFolderPath(platform::Files& files, std::u16string path);

}  // namespace zyp::cookies
