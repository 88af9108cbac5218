#pragma once
// Code page conversions and the user's locale through the Win32 national
// language API. The ANSI code page is taken once, when the object is made.
#include "platform/locale.h"

namespace zyp::win32 {

class SystemLocale final : public platform::Locale {
 public:
  SystemLocale();

  std::uint32_t AnsiCodePage() override { return ansiCodePage_; }
  std::string ToCodePage(std::uint32_t codePage, const std::u16string& text) override;
  std::u16string FromCodePage(std::uint32_t codePage, const std::string& bytes) override;
  bool EqualIgnoreCase(const std::u16string& a, const std::u16string& b) override;
  std::string IgnoreCaseKey(const std::u16string& text) override;

 private:
  std::uint32_t ansiCodePage_;
};

}  // namespace zyp::win32
