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
inline constexpr std::size_t kMaxAddressLength = 32768;
inline constexpr std::size_t kMaxListAddresses = 100000;
inline constexpr std::size_t kMaxBrowserTagLength = 16;

struct BrowserRequest {
  RequestType type = RequestType::Status;
  // "add" and "explore": the address and what came with it; a member that
  // was not sent stays empty (nothing), which differs from an empty text.
  std::u16string url;
  std::optional<std::u16string> cookies;
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
  // The request's id as JSON text, to be echoed unchanged; empty when it
  // sent none, or one that was refused.
  std::string id;
  // Nothing when refused.
  std::optional<BrowserRequest> request;
  // Why it was refused, naming the member (UTF-8).
  std::string refusal;
};

// Never throws for any input.
ParsedRequest ParseRequest(std::string_view json);

// An absolute http, https or ftp address (scheme in any letter case) of at
// most kMaxAddressLength code units, without blanks or control characters.
bool IsAcceptedAddress(std::u16string_view address);

// The text with every run of line breaks, tabs and other control characters
// made one blank.
std::u16string BlankControls(std::u16string_view text);

}  // namespace zyp::messaging
