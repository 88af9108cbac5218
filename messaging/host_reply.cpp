#include "messaging/host_reply.h"

#include <nlohmann/json.hpp>

#include "messaging/native_framing.h"

namespace zyp::messaging {

namespace {

// A JSON string; text that is not UTF-8 has its bad bytes replaced.
std::string Quoted(std::string_view text) {
  return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string IdMember(const std::string& id) { return id.empty() ? std::string() : "\"id\":" + id + ","; }

// The longest start of text that fits in size bytes without splitting a
// UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, std::size_t size) {
  if (text.size() <= size) return text;
  while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
  return text.substr(0, size);
}

}  // namespace

Outcome OutcomeForExitCode(std::uint32_t exitCode) {
  switch (exitCode) {
    case 0:
      return Outcome::Delivered;
    case 2:
      return Outcome::NotDelivered;
    case 3:
      return Outcome::HandedOver;
    default:
      return Outcome::Failed;
  }
}

std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Delivered:
      return "delivered";
    case Outcome::HandedOver:
      return "handed-over";
    case Outcome::NotDelivered:
      return "not-delivered";
    case Outcome::Failed:
      return "failed";
    case Outcome::Refused:
      break;
  }
  return "refused";
}

std::string ExitCodeMessage(std::uint32_t exitCode) {
  switch (exitCode) {
    case 0:
      return "delivered";
    case 1:
      return "ZYPQueueAddURL.exe stopped with an error and showed it in an error box";
    case 2:
      return "not delivered: nothing of the request reached the queue manager or the program it was to start";
    case 3:
      return "handed over: the whole message is in the queue manager's pipe, not yet read; it may still take it";
    default:
      return "ZYPQueueAddURL.exe ended with exit code " + std::to_string(exitCode);
  }
}

std::string CookiesLeftOutMessage(std::size_t cookiesLeftOut, bool keptFile) {
  if (cookiesLeftOut == 0) return {};
  std::string text = "; " + std::to_string(cookiesLeftOut) +
                     (cookiesLeftOut == 1 ? " of the site's cookies was left out: it holds"
                                          : " of the site's cookies were left out: each holds") +
                     " a control character (such as a tab) or a broken character, which a cookie list cannot carry";
  if (keptFile) text += "; with no cookie left to send, the site's cookie file stays as it was";
  return text;
}

std::string ReplyText(const std::string& id, Outcome outcome, std::optional<std::uint32_t> exitCode,
                      std::string_view message, std::size_t cookiesLeftOut) {
  const std::string head =
      "{" + IdMember(id) + "\"outcome\":" + Quoted(OutcomeName(outcome)) +
      (exitCode ? ",\"exitCode\":" + std::to_string(*exitCode) : std::string()) +
      (cookiesLeftOut > 0 ? ",\"cookiesLeftOut\":" + std::to_string(cookiesLeftOut) : std::string()) + ",\"message\":";
  const auto reply = [&](std::string_view text) { return head + Quoted(text) + "}"; };
  std::string whole = reply(message);
  if (whole.size() <= kMaxReplySize) return whole;
  // Escapes only lengthen a text: no more of it than the limit can fit. The
  // longest start that fits is searched for, the cut never inside a character.
  message = CutUtf8(message, kMaxReplySize);
  std::size_t fits = 0;
  std::size_t over = message.size() + 1;
  while (over - fits > 1) {
    const std::size_t middle = fits + (over - fits) / 2;
    if (reply(CutUtf8(message, middle)).size() <= kMaxReplySize)
      fits = middle;
    else
      over = middle;
  }
  return reply(CutUtf8(message, fits));
}

std::string StatusReplyText(const std::string& id, bool managerRunning, std::string_view version) {
  return "{" + IdMember(id) + "\"manager\":" + Quoted(managerRunning ? "running" : "absent") +
         ",\"version\":" + Quoted(version) + "}";
}

}  // namespace zyp::messaging
