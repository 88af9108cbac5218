#pragma once
// Code pages and the user's locale: the conversions and the case-insensitive
// comparison that cookie files, parameter files and cookie names rely on.
// A failed call throws PlatformError naming it.
#include <cstdint>
#include <string>

namespace zyp::platform {

class Locale {
 public:
  virtual ~Locale() = default;
  // GetACP as it was at process start.
  virtual std::uint32_t AnsiCodePage() = 0;
  // WideCharToMultiByte with no flags and no replacement of our own.
  virtual std::string ToCodePage(std::uint32_t codePage, const std::u16string& text) = 0;
  // MultiByteToWideChar with no flags.
  virtual std::u16string FromCodePage(std::uint32_t codePage, const std::string& bytes) = 0;
  // CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE) says equal.
  virtual bool EqualIgnoreCase(const std::u16string& a, const std::u16string& b) = 0;
  // A key that every two texts equal under EqualIgnoreCase share
  // (LCMapStringW with LCMAP_SORTKEY | NORM_IGNORECASE).
  virtual std::string IgnoreCaseKey(const std::u16string& text) = 0;
};

}  // namespace zyp::platform
