#include "messaging/browser_request.h"

#include <algorithm>
#include <array>
#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "intake/address_request.h"
#include "intake/utf8.h"
#include "platform/ascii_text.h"

namespace zyp::messaging {

namespace {

using Json = nlohmann::json;

// Thrown while a request is read: why it is refused.
struct Refusal {
  std::string reason;
};

// C0, DEL, C1 and the two Unicode line separators: each could end a line of
// a parameter file, or be taken for one by whoever reads it next.
constexpr bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029; }

bool HasControl(std::u16string_view text) { return std::any_of(text.begin(), text.end(), IsControl); }

std::size_t Utf16Length(const std::string& utf8) { return intake::FromUtf8(utf8).size(); }

const Json* Member(const Json& object, const char* name) {
  const auto found = object.find(name);
  return found == object.end() ? nullptr : &*found;
}

std::u16string StringMember(const Json& value, const char* name) {
  if (!value.is_string()) throw Refusal{std::string(name) + ": must be a string"};
  return intake::FromUtf8(value.get_ref<const std::string&>());
}

std::optional<std::u16string> OptionalString(const Json& object, const char* name) {
  const Json* value = Member(object, name);
  if (value == nullptr) return std::nullopt;
  return StringMember(*value, name);
}

std::u16string RequiredString(const Json& object, const char* name) {
  const Json* value = Member(object, name);
  if (value == nullptr) throw Refusal{std::string(name) + ": missing"};
  return StringMember(*value, name);
}

void CheckAddress(const std::u16string& address, const std::string& name) {
  if (!IsAcceptedAddress(address))
    throw Refusal{name +
                  ": not an absolute http, https or ftp address of at most 32768 characters without blanks "
                  "or control characters"};
}

std::optional<std::u16string> PlainText(const Json& object, const char* name) {
  std::optional<std::u16string> text = OptionalString(object, name);
  if (text && HasControl(*text)) throw Refusal{std::string(name) + ": holds a control character"};
  return text;
}

std::optional<std::u16string> Caption(const Json& object, const char* name) {
  std::optional<std::u16string> text = OptionalString(object, name);
  if (text) *text = BlankControls(*text);
  return text;
}

bool IsAsciiAlphanumeric(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

void ReadAddressRequest(const Json& object, BrowserRequest& request) {
  request.url = RequiredString(object, "url");
  CheckAddress(request.url, "url");
  request.cookies = PlainText(object, "cookies");
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

void ReadListRequest(const Json& object, BrowserRequest& request) {
  const Json* urls = Member(object, "urls");
  if (urls == nullptr) throw Refusal{"urls: missing"};
  if (!urls->is_array()) throw Refusal{"urls: must be an array of strings"};
  if (urls->empty() || urls->size() > kMaxListAddresses) throw Refusal{"urls: must hold 1 to 100000 addresses"};
  request.urls.reserve(urls->size());
  for (std::size_t i = 0; i < urls->size(); ++i) {
    const std::string name = "urls[" + std::to_string(i) + "]";
    const Json& entry = (*urls)[i];
    if (!entry.is_string()) throw Refusal{name + ": must be a string"};
    request.urls.push_back(intake::FromUtf8(entry.get_ref<const std::string&>()));
    CheckAddress(request.urls.back(), name);
  }
}

void ReadQueueRequest(const Json& object, BrowserRequest& request) {
  const Json* action = Member(object, "action");
  if (action == nullptr) throw Refusal{"action: missing"};
  if (*action == "start")
    request.startQueue = true;
  else if (*action == "stop")
    request.startQueue = false;
  else
    throw Refusal{"action: must be \"start\" or \"stop\""};
}

constexpr std::array<std::pair<std::string_view, RequestType>, 5> kTypes{{
    {"add", RequestType::Add},
    {"explore", RequestType::Explore},
    {"list", RequestType::List},
    {"queue", RequestType::Queue},
    {"status", RequestType::Status},
}};

BrowserRequest ReadRequest(const Json& object) {
  const Json* type = Member(object, "type");
  if (type == nullptr) throw Refusal{"type: missing"};
  if (!type->is_string()) throw Refusal{"type: must be a string"};
  const auto known = std::find_if(kTypes.begin(), kTypes.end(), [&](const auto& entry) {
    return entry.first == type->get_ref<const std::string&>();
  });
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
bool IsKnownMember(const Json& key) {
  static constexpr std::string_view kMembers[] = {"type",      "id",        "url",      "cookies", "browser",
                                                  "userAgent", "pageTitle", "linkText", "urls",    "action"};
  const std::string& name = key.get_ref<const std::string&>();
  return std::find(std::begin(kMembers), std::end(kMembers), name) != std::end(kMembers);
}

constexpr int kMaxDepth = 64;

// The request's object, holding only its known members. No member of any
// request holds more than an array of texts, so a deeper value is refused
// while it is read: 64 MiB of nested arrays would take gigabytes.
Json ParseObject(std::string_view json) {
  std::string member;
  Json object;
  try {
    object = Json::parse(json.begin(), json.end(), [&member](int depth, Json::parse_event_t event, Json& parsed) {
      const bool opens = event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
      // The parser keeps a pointer for each open level, skipped or not.
      if (opens && depth >= kMaxDepth) throw Refusal{"not a request: nested too deeply"};
      if (depth == 0 && event == Json::parse_event_t::array_start) throw Refusal{"not a JSON object"};
      if (depth == 1 && event == Json::parse_event_t::key) {
        member = IsKnownMember(parsed) ? parsed.get<std::string>() : std::string();
        return !member.empty();
      }
      if (opens && depth >= 2 && !member.empty()) throw Refusal{member + ": nested too deeply"};
      return true;
    });
  } catch (const Json::parse_error& error) {
    throw Refusal{"not valid JSON (at byte " + std::to_string(error.byte) + ")"};
  }
  if (!object.is_object()) throw Refusal{"not a JSON object"};
  return object;
}

}  // namespace

bool IsAcceptedAddress(std::u16string_view address) {
  if (address.empty() || address.size() > kMaxAddressLength) return false;
  if (std::any_of(address.begin(), address.end(), [](char16_t c) { return c == u' ' || IsControl(c); })) return false;
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

ParsedRequest ParseRequest(std::string_view json) {
  ParsedRequest parsed;
  try {
    const Json object = ParseObject(json);
    if (const Json* id = Member(object, "id")) {
      if (!id->is_number() && !(id->is_string() && Utf16Length(id->get_ref<const std::string&>()) <= kMaxIdLength))
        throw Refusal{"id: must be a number or a string of at most 256 characters"};
      parsed.id = id->dump();
    }
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
