// Whatever a browser (or a page through it) sends, the host reads frames and
// requests without a fault, and a request it accepts can only become what it
// names: its address first (or the list), the link explorer's marker only
// when asked for, no line that another line could start, and a cookie list
// only of cookies it can carry. Each reply is JSON the browsers take and
// carries the id exactly as it came. What a well-tried JSON parser reads as
// JSON, the host reads as JSON too.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "intake/address_request.h"
#include "intake/fixed_texts.h"
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
  const zyp::messaging::JsonObject read = zyp::messaging::ReadJsonObject(reply, {"id"});
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zyp::messaging;
  MemoryInput input(data, size);
  for (;;) {
    const Frame frame = ReadFrame(input);
    if (frame.status != Frame::Status::Message) break;
    const ParsedRequest parsed = ParseRequest(frame.text);
    Check(parsed.request.has_value() == parsed.refusal.empty());
    // That parser takes a NUL byte for the end of its input, which JSON has not.
    if (frame.text.find('\0') == std::string::npos && nlohmann::json::accept(frame.text))
      Check(!parsed.refusal.starts_with("not valid JSON"));
    const std::size_t leftOut = parsed.request ? parsed.request->cookiesLeftOut : 0;
    CheckReply(parsed.request ? ReplyText(parsed.id, Outcome::Delivered, 0, "delivered", leftOut)
                              : ReplyText(parsed.id, Outcome::Refused, std::nullopt, parsed.refusal),
               parsed.id);
    if (parsed.request && parsed.request->type != RequestType::Queue && parsed.request->type != RequestType::Status)
      CheckLines(*parsed.request);
  }
  return 0;
}
