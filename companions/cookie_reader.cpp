#include "companions/cookie_reader.h"

#include <string_view>

namespace zyp::companions {

namespace {
// A cookie line is one line; anything far larger is not the program's file.
constexpr std::uint64_t kMaxCookieFileSize = 16u << 20;
}  // namespace

CookieReader::CookieReader() : store_(files_, locale_) {}

std::u16string CookieReader::FileName(const std::u16string& address) const { return store_.GetCookieFileName(address); }

std::optional<std::u16string> CookieReader::Line(const std::u16string& address) {
  const std::u16string path = FileName(address);
  if (path.empty() || !files_.FileExists(path)) return std::nullopt;
  std::u16string text;
  try {
    const platform::FileContent content = files_.ReadAll(path, kMaxCookieFileSize);
    if (content.status != platform::FileContent::Status::Read) return std::nullopt;
    text = locale_.FromCodePage(locale_.AnsiCodePage(), std::string(content.bytes.begin(), content.bytes.end()));
  } catch (...) {
    // A file that is being replaced right now reads as absent.
    return std::nullopt;
  }
  if (text.ends_with(u"\r\n")) text.resize(text.size() - 2);
  return text;
}

}  // namespace zyp::companions
