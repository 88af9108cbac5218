// Any UTF-16 text becomes well-formed UTF-8 that decodes back to the same
// text, with only unpaired surrogates turned into U+FFFD; any bytes decode
// to text without unpaired surrogates.
#include <cstdlib>

#include "fuzz/fuzz_text.h"
#include "intake/utf8.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::u16string ReplaceUnpaired(const std::u16string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
      out += text[i];
      out += text[++i];
    } else {
      out += (IsHigh(text[i]) || IsLow(text[i])) ? u'\uFFFD' : text[i];
    }
  }
  return out;
}

bool WellFormed(const std::u16string& text) { return ReplaceUnpaired(text) == text; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = zyp::fuzz::Utf16FromBytes(data, size);
  const std::string utf8 = zyp::intake::ToUtf8(text);
  Check(zyp::intake::FromUtf8(utf8) == ReplaceUnpaired(text));

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string decoded = zyp::intake::FromUtf8(bytes);
  Check(WellFormed(decoded));
  Check(decoded.size() <= bytes.size());
  return 0;
}
