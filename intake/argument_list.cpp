#include "intake/argument_list.h"

#include <optional>

#include "cookies/cookie_store.h"
#include "intake/browser_settings.h"
#include "intake/parameter_file.h"
#include "intake/utf8.h"
#include "platform/ascii_text.h"
#include "platform/error.h"

namespace zyp::intake {

namespace {

std::u16string DecodeUtf16(const std::vector<std::uint8_t>& bytes, std::size_t start, bool bigEndian) {
  std::u16string text;
  text.reserve((bytes.size() - start) / 2);
  for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
    const unsigned first = bytes[i], second = bytes[i + 1];
    text.push_back(static_cast<char16_t>(bigEndian ? (first << 8 | second) : (second << 8 | first)));
  }
  return text;
}

bool StartsWith(const std::vector<std::uint8_t>& bytes, std::initializer_list<std::uint8_t> mark) {
  return bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin());
}

// Nothing when the path opens something other than a regular disk file.
std::optional<std::vector<std::u16string>> ReadLines(const std::u16string& path, platform::Files& files,
                                                     platform::Locale& locale) {
  platform::FileContent content = files.ReadAll(path, kMaxParameterFileSize);
  switch (content.status) {
    case platform::FileContent::Status::Read:
      break;
    case platform::FileContent::Status::NotADiskFile:
      return std::nullopt;
    case platform::FileContent::Status::TooLarge:
      throw Error(u"Cannot read the parameter file \"" + path + u"\": it is larger than 64 MiB");
  }
  return DecodeParameterLines(content.bytes, locale);
}

Error NotAParameterFile(const std::u16string& path) {
  return Error(u"Cannot read the parameter file \"" + path +
               u"\": only a regular file named by its full path on a drive letter is read");
}

enum class Keyword { CookieList, PageTitle, LinkText, Cookies, Agent };

struct KeywordEntry {
  std::u16string_view text;
  Keyword keyword;
};

// Tested in this order; the first that matches decides.
constexpr KeywordEntry kKeywords[] = {
    {u"cookielist=", Keyword::CookieList}, {u"pagetitle=", Keyword::PageTitle}, {u"linktext=", Keyword::LinkText},
    {u"cookies=", Keyword::Cookies},       {u"agent=", Keyword::Agent},
};
constexpr std::u16string_view kLoadFromRegistry = u"loadfromregistry";

}  // namespace

std::vector<std::u16string> DecodeParameterLines(const std::vector<std::uint8_t>& bytes, platform::Locale& locale) {
  std::u16string text;
  if (StartsWith(bytes, {0xEF, 0xBB, 0xBF})) {
    text = FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()) + 3, bytes.size() - 3));
  } else if (StartsWith(bytes, {0xFF, 0xFE})) {
    text = DecodeUtf16(bytes, 2, false);
  } else if (StartsWith(bytes, {0xFE, 0xFF})) {
    text = DecodeUtf16(bytes, 2, true);
  } else {
    text = locale.FromCodePage(locale.AnsiCodePage(), std::string(bytes.begin(), bytes.end()));
  }
  if (const auto nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);

  std::vector<std::u16string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of(u"\r\n", start);
    if (end == std::u16string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ? 2 : 1);
  }
  return lines;
}

ArgumentList BuildArgumentList(const std::u16string& firstArgument, const CommandLine& commandLine,
                               platform::Files& files, platform::Locale& locale) {
  ArgumentList list;
  // Anything else is an address, and is never opened.
  if (IsParameterFilePath(firstArgument) && files.FileExists(firstArgument)) {
    list = ReadLines(firstArgument, files, locale).value_or(ArgumentList());
    if (!list.empty()) {
      if (locale.EqualIgnoreCase(list.front(), std::u16string(kParameterFileHeader))) {
        list.erase(list.begin());
        try {
          files.Remove(firstArgument);
        } catch (const PlatformError&) {
          // A file that cannot be deleted stays; the request goes on.
        }
      } else {
        // Not a parameter file (a picture, say): used as the address only.
        list.clear();
      }
    }
  }
  if (firstArgument.compare(0, kParamFilePrefix.size(), kParamFilePrefix) == 0) {
    // The request is in the file: one that cannot be read stops it.
    const std::u16string path = firstArgument.substr(kParamFilePrefix.size());
    if (!IsParameterFilePath(path)) throw NotAParameterFile(path);
    auto lines = ReadLines(path, files, locale);
    if (!lines) throw NotAParameterFile(path);
    list = std::move(*lines);
  }
  if (list.empty()) {
    for (std::size_t i = 1; i <= commandLine.Count(); ++i) list.push_back(commandLine.Argument(i));
  }
  return list;
}

RequestFields ParseArgumentList(const ArgumentList& arguments, ParseServices services) {
  RequestFields fields;
  if (!arguments.empty()) fields.Address = arguments.front();
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::u16string& item = arguments[i];
    bool matched = false;
    for (const auto& entry : kKeywords) {
      if (!AsciiStartsWithIgnoreCase(item, entry.text)) continue;
      const std::u16string_view value = std::u16string_view(item).substr(entry.text.size());
      switch (entry.keyword) {
        case Keyword::CookieList:
          services.cookies.WriteCookieFile(fields.Address, std::u16string(value));
          break;
        case Keyword::PageTitle:
          fields.PageTitle = TrimBlanks(value);
          break;
        case Keyword::LinkText:
          fields.LinkText = TrimBlanks(value);
          break;
        case Keyword::Cookies:
          fields.BrowserTag = TrimBlanks(value);
          break;
        case Keyword::Agent:
          fields.UserAgent = TrimBlanks(value);
          break;
      }
      matched = true;
      break;
    }
    if (!matched && AsciiEqualIgnoreCase(item, kLoadFromRegistry)) fields.LoadFromRegistry = true;
  }

  if (fields.LoadFromRegistry) LoadPendingSettings(services.registry, fields);
  if (fields.UserAgent.empty()) ReadAgentSetting(services.registry, fields);
  if (!fields.UserAgent.empty() && !fields.BrowserTag.empty()) WriteAgentSetting(services.registry, fields);
  fields.ExtraText = !fields.LinkText.empty() ? fields.LinkText : fields.PageTitle;
  return fields;
}

}  // namespace zyp::intake
