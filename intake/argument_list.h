#pragma once
// A request's argument list: the address first, then keyword arguments. It
// comes from the command line or from a parameter file named on it; reading
// it writes cookie files at once and then the browser settings.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "intake/command_line.h"
#include "intake/request_fields.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/registry.h"

namespace zyp::cookies {
class CookieStore;
}

namespace zyp::intake {

using ArgumentList = std::vector<std::u16string>;

inline constexpr std::u16string_view kParameterFileHeader = u"ZYP Parameter File";
inline constexpr std::u16string_view kParamFilePrefix = u"paramfile=";

// The lines of a parameter file: decoded by its byte-order mark (UTF-8,
// UTF-16 LE, UTF-16 BE) or else the ANSI code page, ended by a NUL, cut at
// CR, LF and CR LF; a break at the very end adds no empty line.
std::vector<std::u16string> DecodeParameterLines(const std::vector<std::uint8_t>& bytes, platform::Locale& locale);

// From the parameter file named by the first argument (its header checked,
// the file deleted after use), from a "paramfile=" file, or else from the
// command line. Only a name that IsParameterFilePath accepts is opened, and
// only a regular disk file of at most kMaxParameterFileSize bytes is read.
// Throws PlatformError when an existing file cannot be read, and Error for a
// file that is too large or a "paramfile=" name that is no such file.
ArgumentList BuildArgumentList(const std::u16string& firstArgument, const CommandLine& commandLine,
                               platform::Files& files, platform::Locale& locale);

struct ParseServices {
  cookies::CookieStore& cookies;
  platform::Registry& registry;
};

// Fills the request's fields; cookie files are written while the list is
// scanned, then the browser settings are loaded, read and written.
RequestFields ParseArgumentList(const ArgumentList& arguments, ParseServices services);

}  // namespace zyp::intake
