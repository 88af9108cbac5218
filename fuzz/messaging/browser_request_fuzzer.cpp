// Whatever a browser (or a page through it) sends, the host reads frames and
// requests without a fault, and a request it accepts can only become what it
// names: its address first (or the list), the link explorer's marker only
// when asked for, no line that another line could start, and a cookie list
// only of cookies it can carry. Each reply is JSON the browsers take and
// carries the id exactly as it came. What a well-tried JSON parser reads as
// JSON, the host reads as JSON too, and the other way round, apart from what
// the host takes on purpose: numbers of any size, and escaped surrogates
// without their partner. A kept array counts every entry and keeps no more
// than it was asked to.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "intake/address_request.h"
#include "intake/fixed_texts.h"
#include "intake/utf8.h"
#include "messaging/browser_request.h"
#include "messaging/host_reply.h"
#include "messaging/json_object.h"
#include "messaging/native_framing.h"
#include "messaging/program_input.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

class MemoryInput : public zyp::platform::ByteInput {
 public:
  MemoryInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t Read(void* buffer, std::size_t size) override {
    // Short reads, as pipes give them.
    const std::size_t count = std::min({size, size_ - at_, std::size_t{7}});
    std::memcpy(buffer, data_ + at_, count);
    at_ += count;
    return count;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n' || c == 0; }

// What a cookie list never carries: controls, line separators, surrogates
// without their partner.
bool CarriesOnlyWhatItCan(std::u16string_view list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    const char16_t c = list[i];
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) return false;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < list.size() && list[i + 1] >= 0xDC00 && list[i + 1] <= 0xDFFF)
      ++i;
    else if (c >= 0xD800 && c <= 0xDFFF)
      return false;
  }
  return true;
}

// The reply read back: its id is the request's, as it came.
void CheckReply(const std::string& reply, const std::string& id) {
  Check(reply.size() <= zyp::messaging::kMaxReplySize && reply.front() == '{' && reply.back() == '}');
  const zyp::messaging::JsonObject read = zyp::messaging::ReadJsonObject(reply, {"id"}, 0);
  const zyp::messaging::JsonValue* echoed = read.Find("id");
  Check(id.empty() ? echoed == nullptr : echoed != nullptr && echoed->raw == id);
}

void CheckLines(const zyp::messaging::BrowserRequest& request) {
  using zyp::messaging::RequestType;
  const std::vector<std::u16string> lines = zyp::messaging::ArgumentLines(request);
  Check(!lines.empty());
  for (const std::u16string& line : lines) Check(std::none_of(line.begin(), line.end(), IsLineBreak));
  if (request.type == RequestType::List) {
    Check(lines.size() == 1 && lines[0].starts_with(zyp::intake::kListPrefix));
    return;
  }
  Check(zyp::messaging::IsAcceptedAddress(lines[0]));
  const bool marked = lines.size() > 1 && lines[1] == zyp::intake::kLinkExplorerMarker;
  Check(marked == (request.type == RequestType::Explore));
  for (std::size_t i = marked ? 2 : 1; i < lines.size(); ++i) Check(lines[i].find(u'=') != std::u16string::npos);
  Check(!request.cookies || CarriesOnlyWhatItCan(*request.cookies));
}

// The request's parameter file is its argument lines, each in UTF-8.
void CheckParameterFile(const zyp::messaging::BrowserRequest& request) {
  std::string expected = "\xEF\xBB\xBFZYP Parameter File\r\n";
  for (const std::u16string& line : zyp::messaging::ArgumentLines(request))
    expected += zyp::intake::ToUtf8(line) + "\r\n";
  Check(zyp::messaging::ParameterFileBytes(request) == expected);
}

int HexValue(std::string_view digits) {
  int value = 0;
  for (const char c : digits) value = value * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  return value;
}

bool IsSurrogateEscape(std::string_view json, std::size_t at, int low, int high) {
  if (at + 6 > json.size() || json[at] != '\\' || json[at + 1] != 'u') return false;
  const int unit = HexValue(json.substr(at + 2, 4));
  return unit >= low && unit <= high;
}

// A JSON text that the host read, with what it takes on purpose made into
// what that parser takes: a number beyond a double becomes 0, an escaped
// surrogate without its partner a blank. The text is valid JSON here, so
// quotes and backslashes tell strings apart without a full reader.
std::string WithoutDocumentedDifferences(std::string_view json) {
  std::string out;
  bool inString = false;
  for (std::size_t i = 0; i < json.size();) {
    const char c = json[i];
    if (inString && c == '\\' && json[i + 1] == 'u') {
      if (IsSurrogateEscape(json, i, 0xD800, 0xDBFF) && IsSurrogateEscape(json, i + 6, 0xDC00, 0xDFFF)) {
        out.append(json.substr(i, 12));
        i += 12;
      } else {
        out.append(IsSurrogateEscape(json, i, 0xD800, 0xDFFF) ? "\\u0020" : json.substr(i, 6));
        i += 6;
      }
    } else if (inString && c == '\\') {
      out.append(json.substr(i, 2));
      i += 2;
    } else if (!inString && (c == '-' || (c >= '0' && c <= '9'))) {
      std::size_t end = i + 1;
      while (end < json.size() && std::string_view("0123456789+-.eE").find(json[end]) != std::string_view::npos) ++end;
      const std::string number(json.substr(i, end - i));
      out += std::isfinite(std::strtod(number.c_str(), nullptr)) ? number : "0";
      i = end;
    } else {
      if (c == '"') inString = !inString;
      out.push_back(c);
      ++i;
    }
  }
  return out;
}

// Refusals the JSON reader makes before it has read the whole text.
bool ReadWhole(const zyp::messaging::ParsedRequest& parsed) {
  const std::string& refusal = parsed.refusal;
  return !refusal.starts_with("not valid JSON") && !refusal.starts_with("not a JSON object") &&
         !refusal.ends_with("nested too deeply") && !refusal.starts_with("not a request that can be read");
}

// Every entry of a kept array is counted, the first few kept, as that parser
// reads it.
void CheckArrayCap(const std::string& json, const nlohmann::json& value) {
  constexpr std::size_t kKeep = 2;
  try {
    const zyp::messaging::JsonObject read = zyp::messaging::ReadJsonObject(json, {"urls"}, kKeep);
    const zyp::messaging::JsonValue* urls = read.Find("urls");
    Check((urls != nullptr) == value.contains("urls"));
    if (urls == nullptr || !value["urls"].is_array()) return;
    Check(urls->count == value["urls"].size());
    Check(urls->entries.size() == std::min(urls->count, kKeep));
  } catch (const zyp::messaging::JsonRefusal&) {
    // Nested too deeply, which that parser does not limit.
  }
}

// Everything that must hold for one request's text.
void CheckRequest(const std::string& text) {
  using namespace zyp::messaging;
  const ParsedRequest parsed = ParseRequest(text);
  Check(parsed.request.has_value() == parsed.refusal.empty());
  // That parser takes a NUL byte for the end of its input, which JSON has not.
  if (text.find('\0') == std::string::npos) {
    const nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    if (!value.is_discarded()) {
      Check(!parsed.refusal.starts_with("not valid JSON"));
      Check(value.is_object() != parsed.refusal.starts_with("not a JSON object"));
      if (value.is_object()) CheckArrayCap(text, value);
    }
  }
  if (ReadWhole(parsed)) Check(nlohmann::json::accept(WithoutDocumentedDifferences(text)));
  const std::size_t leftOut = parsed.request ? parsed.request->cookiesLeftOut : 0;
  CheckReply(parsed.request ? ReplyText(parsed.id, Outcome::Delivered, 0, "delivered", leftOut)
                            : ReplyText(parsed.id, Outcome::Refused, std::nullopt, parsed.refusal),
             parsed.id);
  if (parsed.request && parsed.request->type != RequestType::Queue && parsed.request->type != RequestType::Status) {
    CheckLines(*parsed.request);
    CheckParameterFile(*parsed.request);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zyp::messaging;
  MemoryInput input(data, size);
  for (;;) {
    const Frame frame = ReadFrame(input);
    if (frame.status != Frame::Status::Message) break;
    CheckRequest(frame.text);
  }
  // The whole input as one request too: a byte added or taken away inside a
  // frame leaves its length wrong, and the reader would rarely meet the text.
  CheckRequest(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
