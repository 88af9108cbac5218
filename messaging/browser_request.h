#pragma once
// The requests that a browser extension sends the host, read from their JSON
// and checked before anything runs. A web page decides most of their texts:
// nothing that passes can become a control word, a list, a parameter-file
// path or a keyword argument of the program, or start another program than
// the one the request names.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zyp::messaging {

enum class RequestType { Add, Explore, List, Queue, Status };

// Limits of a request, counted in UTF-16 code units as the browsers count.
inline constexpr std::size_t kMaxIdLength = 256;
// A number id's JSON text, in characters: a double's shortest form takes at
// most 24, a 128-bit integer 40.
inline constexpr std::size_t kMaxIdNumberLength = 64;
inline constexpr std::size_t kMaxAddressLength = 32768;
inline constexpr std::size_t kMaxListAddresses = 100000;
inline constexpr std::size_t kMaxBrowserTagLength = 16;

struct BrowserRequest {
  RequestType type = RequestType::Status;
  // "add" and "explore": the address and what came with it; a member that
  // was not sent stays empty (nothing), which differs from an empty text.
  std::u16string url;
  // The cookie list the program is given; nothing when none was sent, or
  // when every cookie sent had to be left out (see CarryCookies).
  std::optional<std::u16string> cookies;
  std::size_t cookiesLeftOut = 0;
  std::optional<std::u16string> browser;
  std::optional<std::u16string> userAgent;
  std::optional<std::u16string> pageTitle;  // control characters made blanks
  std::optional<std::u16string> linkText;   // control characters made blanks
  // "list": the addresses in order.
  std::vector<std::u16string> urls;
  // "queue": start (true) or stop.
  bool startQueue = false;
};

struct ParsedRequest {
  // The request's id as the JSON text it was sent as, to be echoed
  // unchanged; empty when it sent none, or one that was refused. Of several
  // ids the last counts.
  std::string id;
  // Nothing when refused.
  std::optional<BrowserRequest> request;
  // Why it was refused, naming the member (UTF-8).
  std::string refusal;
};

// Never throws for any input.
ParsedRequest ParseRequest(std::string_view json);

// An absolute http, https or ftp address (scheme in any letter case) of at
// most kMaxAddressLength code units, without blanks, control characters or
// unpaired surrogates.
bool IsAcceptedAddress(std::u16string_view address);

// A cookie list as the program can be given it. Each cookie (the text
// between two ";") that holds a control character or an unpaired surrogate
// is left out alone: the parameter file's lines, the program's trimming and
// its UTF-8 would change or cut it. The others keep their text as sent. When
// something was left out and no cookie is left, list is nothing: an empty
// list would delete the site's cookie file, and the file is better kept as
// it was than lost for a cookie that could not come along.
struct CarriedCookies {
  std::optional<std::u16string> list;
  std::size_t leftOut = 0;  // cookies left out; blank room between them is not counted
};
CarriedCookies CarryCookies(std::u16string_view list);

// The text with every run of line breaks, tabs and other control characters
// made one blank.
std::u16string BlankControls(std::u16string_view text);

}  // namespace zyp::messaging
