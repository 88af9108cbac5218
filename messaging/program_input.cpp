#include "messaging/program_input.h"

#include "intake/address_request.h"
#include "intake/argument_list.h"
#include "intake/fixed_texts.h"
#include "intake/trace_masking.h"
#include "intake/utf8.h"

namespace zyp::messaging {

namespace {

void AddKeyword(std::vector<std::u16string>& lines, std::u16string_view keyword,
                const std::optional<std::u16string>& value) {
  if (value) lines.push_back(std::u16string(keyword) + *value);
}

}  // namespace

std::vector<std::u16string> ArgumentLines(const BrowserRequest& request) {
  std::vector<std::u16string> lines;
  if (request.type == RequestType::List) {
    std::u16string list(intake::kListPrefix);
    for (std::size_t i = 0; i < request.urls.size(); ++i) {
      if (i > 0) list.push_back(u' ');
      list += request.urls[i];
    }
    lines.push_back(std::move(list));
    return lines;
  }
  lines.push_back(request.url);
  if (request.type == RequestType::Explore) lines.emplace_back(intake::kLinkExplorerMarker);
  // Present even when empty: an empty list deletes the site's cookie file.
  AddKeyword(lines, intake::kCookieListKeyword, request.cookies);
  AddKeyword(lines, u"cookies=", request.browser);
  AddKeyword(lines, u"agent=", request.userAgent);
  AddKeyword(lines, u"pagetitle=", request.pageTitle);
  AddKeyword(lines, u"linktext=", request.linkText);
  return lines;
}

std::string ParameterFileBytes(const BrowserRequest& request) {
  std::string bytes = "\xEF\xBB\xBF" + intake::ToUtf8(intake::kParameterFileHeader) + "\r\n";
  if (request.type == RequestType::List) {
    // Written from the addresses themselves: a list may fill a 64 MiB
    // request, and its one line joined first would hold twice that again.
    std::size_t size = bytes.size() + intake::kListPrefix.size() + request.urls.size() + 2;
    for (const std::u16string& url : request.urls) size += url.size();
    bytes.reserve(size);
    bytes += intake::ToUtf8(intake::kListPrefix);
    for (std::size_t i = 0; i < request.urls.size(); ++i) {
      if (i > 0) bytes.push_back(' ');
      bytes += intake::ToUtf8(request.urls[i]);
    }
    bytes += "\r\n";
    return bytes;
  }
  for (const std::u16string& line : ArgumentLines(request)) {
    bytes += intake::ToUtf8(line);
    bytes += "\r\n";
  }
  return bytes;
}

std::u16string ControlWord(const BrowserRequest& request) {
  return std::u16string(request.startQueue ? intake::kStartWord : intake::kStopWord);
}

}  // namespace zyp::messaging
