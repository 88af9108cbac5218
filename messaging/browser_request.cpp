#include "messaging/browser_request.h"

#include <algorithm>
#include <array>
#include <exception>
#include <utility>

#include "cookies/cookie_merge.h"
#include "intake/address_request.h"
#include "intake/utf8.h"
#include "messaging/json_object.h"
#include "platform/ascii_text.h"

namespace zyp::messaging {

namespace {

// Thrown while a request is read: why it is refused. Its members' faults
// are refused as the reader's own are.
using Refusal = JsonRefusal;

// C0, DEL, C1 and the two Unicode line separators: each could end a line of
// a parameter file, or be taken for one by whoever reads it next.
constexpr bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029; }

bool HasControl(std::u16string_view text) { return std::any_of(text.begin(), text.end(), IsControl); }

std::u16string StringMember(const JsonValue& value, const char* name) {
  if (value.kind != JsonValue::Kind::String) throw Refusal{std::string(name) + ": must be a string"};
  return value.text;
}

std::optional<std::u16string> OptionalString(const JsonObject& object, const char* name) {
  const JsonValue* value = object.Find(name);
  if (value == nullptr) return std::nullopt;
  return StringMember(*value, name);
}

std::u16string RequiredString(const JsonObject& object, const char* name) {
  const JsonValue* value = object.Find(name);
  if (value == nullptr) throw Refusal{std::string(name) + ": missing"};
  return StringMember(*value, name);
}

void CheckAddress(const std::u16string& address, const std::string& name) {
  if (!IsAcceptedAddress(address))
    throw Refusal{name +
                  ": not an absolute http, https or ftp address of at most 32768 characters without blanks, "
                  "control characters or unpaired surrogates"};
}

std::optional<std::u16string> PlainText(const JsonObject& object, const char* name) {
  std::optional<std::u16string> text = OptionalString(object, name);
  if (text && HasControl(*text)) throw Refusal{std::string(name) + ": holds a control character"};
  // A surrogate without its partner would reach the program as U+FFFD, another text than the one sent.
  if (text && !intake::IsWellFormedUtf16(*text)) throw Refusal{std::string(name) + ": holds an unpaired surrogate"};
  return text;
}

std::optional<std::u16string> Caption(const JsonObject& object, const char* name) {
  std::optional<std::u16string> text = OptionalString(object, name);
  if (text) *text = BlankControls(*text);
  return text;
}

bool IsAsciiAlphanumeric(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

void ReadAddressRequest(const JsonObject& object, BrowserRequest& request) {
  request.url = RequiredString(object, "url");
  CheckAddress(request.url, "url");
  if (std::optional<std::u16string> cookies = OptionalString(object, "cookies")) {
    CarriedCookies carried = CarryCookies(*cookies);
    request.cookies = std::move(carried.list);
    request.cookiesLeftOut = carried.leftOut;
  }
  request.browser = PlainText(object, "browser");
  if (request.browser && (request.browser->size() > kMaxBrowserTagLength ||
                          !std::all_of(request.browser->begin(), request.browser->end(), IsAsciiAlphanumeric)))
    throw Refusal{"browser: must be at most 16 letters and digits"};
  request.userAgent = PlainText(object, "userAgent");
  request.pageTitle = Caption(object, "pageTitle");
  request.linkText = Caption(object, "linkText");
  if (request.type != RequestType::Add) return;
  // The program sends an address whose extra text (the link text, else the
  // page title) is the marker to the link explorer: a page must not turn a
  // download into another program's start.
  const std::u16string_view linkText = request.linkText ? TrimBlanks(*request.linkText) : std::u16string_view();
  const std::u16string_view pageTitle = request.pageTitle ? TrimBlanks(*request.pageTitle) : std::u16string_view();
  if (!linkText.empty() ? linkText == intake::kLinkExplorerMarker : pageTitle == intake::kLinkExplorerMarker)
    throw Refusal{std::string(linkText.empty() ? "pageTitle" : "linkText") +
                  ": \"linkexplorer\" would hand the address to the link explorer instead"};
}

// The addresses move out of the object: a list may hold 64 MiB of them.
void ReadListRequest(JsonObject& object, BrowserRequest& request) {
  JsonValue* urls = object.Find("urls");
  if (urls == nullptr) throw Refusal{"urls: missing"};
  if (urls->kind != JsonValue::Kind::Array) throw Refusal{"urls: must be an array of strings"};
  if (urls->count == 0 || urls->count > kMaxListAddresses) throw Refusal{"urls: must hold 1 to 100000 addresses"};
  request.urls.reserve(urls->entries.size());
  for (std::size_t i = 0; i < urls->entries.size(); ++i) {
    const std::string name = "urls[" + std::to_string(i) + "]";
    JsonValue& entry = urls->entries[i];
    if (entry.kind != JsonValue::Kind::String) throw Refusal{name + ": must be a string"};
    request.urls.push_back(std::move(entry.text));
    CheckAddress(request.urls.back(), name);
  }
}

void ReadQueueRequest(const JsonObject& object, BrowserRequest& request) {
  const JsonValue* action = object.Find("action");
  if (action == nullptr) throw Refusal{"action: missing"};
  if (action->kind == JsonValue::Kind::String && action->text == u"start")
    request.startQueue = true;
  else if (action->kind == JsonValue::Kind::String && action->text == u"stop")
    request.startQueue = false;
  else
    throw Refusal{"action: must be \"start\" or \"stop\""};
}

constexpr std::array<std::pair<std::u16string_view, RequestType>, 5> kTypes{{
    {u"add", RequestType::Add},
    {u"explore", RequestType::Explore},
    {u"list", RequestType::List},
    {u"queue", RequestType::Queue},
    {u"status", RequestType::Status},
}};

BrowserRequest ReadRequest(JsonObject& object) {
  const JsonValue* type = object.Find("type");
  if (type == nullptr) throw Refusal{"type: missing"};
  if (type->kind != JsonValue::Kind::String) throw Refusal{"type: must be a string"};
  const auto known =
      std::find_if(kTypes.begin(), kTypes.end(), [&](const auto& entry) { return entry.first == type->text; });
  if (known == kTypes.end()) throw Refusal{"type: unknown; one of add, explore, list, queue, status"};
  BrowserRequest request;
  request.type = known->second;
  switch (request.type) {
    case RequestType::Add:
    case RequestType::Explore:
      ReadAddressRequest(object, request);
      break;
    case RequestType::List:
      ReadListRequest(object, request);
      break;
    case RequestType::Queue:
      ReadQueueRequest(object, request);
      break;
    case RequestType::Status:
      break;
  }
  return request;
}

// The members a request may have; others are skipped unread, so that what a
// sender adds costs no memory.
const std::vector<std::string_view> kMembers = {"type",      "id",        "url",      "cookies", "browser",
                                                "userAgent", "pageTitle", "linkText", "urls",    "action"};

// The id's JSON text as it came, which is JSON the reply can carry: a number
// keeps every digit, however many, and a text its escapes.
std::string IdText(const JsonValue& id) {
  const bool fits = (id.kind == JsonValue::Kind::Number && id.raw.size() <= kMaxIdNumberLength) ||
                    (id.kind == JsonValue::Kind::String && id.text.size() <= kMaxIdLength);
  if (!fits) throw Refusal{"id: must be a number of at most 64 characters or a string of at most 256 characters"};
  return std::string(id.raw);
}

}  // namespace

bool IsAcceptedAddress(std::u16string_view address) {
  if (address.empty() || address.size() > kMaxAddressLength) return false;
  if (std::any_of(address.begin(), address.end(), [](char16_t c) { return c == u' ' || IsControl(c); })) return false;
  if (!intake::IsWellFormedUtf16(address)) return false;
  static constexpr std::u16string_view kSchemes[] = {u"http://", u"https://", u"ftp://"};
  for (const std::u16string_view scheme : kSchemes) {
    if (!AsciiStartsWithIgnoreCase(address, scheme)) continue;
    // An authority follows: "http:///path" names no server.
    const std::u16string_view rest = address.substr(scheme.size());
    return !rest.empty() && rest.front() != u'/' && rest.front() != u'?' && rest.front() != u'#';
  }
  return false;
}

std::u16string BlankControls(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (!IsControl(text[i])) {
      out.push_back(text[i++]);
      continue;
    }
    out.push_back(u' ');
    while (i < text.size() && IsControl(text[i])) ++i;
  }
  return out;
}

CarriedCookies CarryCookies(std::u16string_view list) {
  CarriedCookies carried;
  std::u16string kept;
  bool dropped = false;
  bool cookieKept = false;
  bool first = true;
  // Cut where the program cuts the list: at every ";", which no cookie's
  // name or value holds.
  std::u16string_view rest = list;
  do {
    const std::u16string_view part = cookies::FetchToken(rest, u";");
    // The program trims blanks and controls off a cookie's ends: a part
    // with nothing else is no cookie, just room between two.
    const bool cookie = !TrimBlanks(part).empty();
    if (HasControl(part) || !intake::IsWellFormedUtf16(part)) {
      dropped = true;
      if (cookie) ++carried.leftOut;
      continue;
    }
    if (!first) kept.push_back(u';');
    kept += part;
    first = false;
    cookieKept = cookieKept || cookie;
  } while (!rest.empty());
  if (!dropped) {
    carried.list = std::u16string(list);
  } else if (cookieKept) {
    carried.list = std::move(kept);
  }
  return carried;
}

ParsedRequest ParseRequest(std::string_view json) {
  ParsedRequest parsed;
  try {
    JsonObject object = ReadJsonObject(json, kMembers, kMaxListAddresses);
    if (const JsonValue* id = object.Find("id")) parsed.id = IdText(*id);
    parsed.request = ReadRequest(object);
  } catch (const Refusal& refusal) {
    parsed.refusal = refusal.reason;
  } catch (const std::exception&) {
    // Memory that a request of up to 64 MiB cannot have: refused all the same.
    parsed.refusal = "not a request that can be read";
  }
  return parsed;
}

}  // namespace zyp::messaging
