#pragma once
// What the queue manager makes of a text that arrived on its pipe: an address
// to add (with the extra text that may follow it), a list, or something else.
#include <string>
#include <string_view>

namespace zyp::companions {

struct QueueMessage {
  enum class Kind { AddUrl, AddUrls, Other };

  Kind kind = Kind::Other;
  std::u16string address;  // ADDURL: the address
  std::u16string extra;    // ADDURL: the text between "[<{(" and ")}>]"
  bool hasExtra = false;
  std::u16string list;  // ADDURLS: everything after the prefix
};

// Prefixes are compared exactly. The extra text starts after the first
// "[<{(" and needs ")}>]" at the very end; without both, the whole rest is
// the address.
QueueMessage ParseQueueMessage(std::u16string_view text);

// "ADDURL", "ADDURLS" or "OTHER", as the journal names the kinds.
std::u16string_view KindName(QueueMessage::Kind kind);

}  // namespace zyp::companions
