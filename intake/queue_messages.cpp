#include "intake/queue_messages.h"

#include <vector>

#include "intake/fixed_texts.h"
#include "intake/utf8.h"

namespace zyp::intake {

std::u16string MakeAddressText(const std::u16string& address, const std::u16string& extraText) {
  if (extraText.empty()) return address;
  return address + std::u16string(kExtraTextOpen) + extraText + std::u16string(kExtraTextClose);
}

bool ConnectQueue(QueuePipe& pipe) { return pipe.Connect(kQueueConnectWaitMs, true); }

namespace {

bool SendPipeBytes(QueuePipe& pipe, const std::string& bytes) {
  return pipe.Write(bytes.c_str(), static_cast<std::int32_t>(bytes.size()));
}

}  // namespace

bool SendPipeText(QueuePipe& pipe, std::u16string_view text) { return SendPipeBytes(pipe, ToUtf8(text)); }

Delivery RunListRequest(Services& services, const std::u16string& list, platform::WindowHandle managerWindow) {
  if (managerWindow == 0 || !ConnectQueue(services.pipe)) return Delivery::NotDelivered;
  // Converted straight from the list: it may fill 64 MiB, and a message put
  // together in UTF-16 first would copy it twice more before the run ends.
  std::string bytes = ToUtf8(kAddUrlsPrefix);
  bytes += ToUtf8(std::u16string_view(list).substr(kListPrefix.size()));
  return SendPipeBytes(services.pipe, bytes) ? Delivery::Queued : Delivery::NotDelivered;
}

}  // namespace zyp::intake
