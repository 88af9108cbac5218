#include "companions/queue_message.h"

namespace zyp::companions {

namespace {
constexpr std::u16string_view kAddUrl = u"ADDURL:";
constexpr std::u16string_view kAddUrls = u"ADDURLS:";
constexpr std::u16string_view kExtraOpen = u"[<{(";
constexpr std::u16string_view kExtraClose = u")}>]";
}  // namespace

QueueMessage ParseQueueMessage(std::u16string_view text) {
  QueueMessage message;
  if (text.starts_with(kAddUrls)) {
    message.kind = QueueMessage::Kind::AddUrls;
    message.list = text.substr(kAddUrls.size());
  } else if (text.starts_with(kAddUrl)) {
    message.kind = QueueMessage::Kind::AddUrl;
    const std::u16string_view rest = text.substr(kAddUrl.size());
    const std::size_t open = rest.find(kExtraOpen);
    if (open != std::u16string_view::npos && rest.size() >= open + kExtraOpen.size() + kExtraClose.size() &&
        rest.ends_with(kExtraClose)) {
      message.address = rest.substr(0, open);
      message.extra =
          rest.substr(open + kExtraOpen.size(), rest.size() - open - kExtraOpen.size() - kExtraClose.size());
      message.hasExtra = true;
    } else {
      message.address = rest;
    }
  }
  return message;
}

std::u16string_view KindName(QueueMessage::Kind kind) {
  switch (kind) {
    case QueueMessage::Kind::AddUrl:
      return u"ADDURL";
    case QueueMessage::Kind::AddUrls:
      return u"ADDURLS";
    case QueueMessage::Kind::Other:
      break;
  }
  return u"OTHER";
}

}  // namespace zyp::companions
