#pragma once
// The host's answers: one JSON object per request, carrying the request's id
// unchanged, never longer than the browsers take from a host.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zyp::messaging {

enum class Outcome {
  Delivered,     // exit code 0
  HandedOver,    // exit code 3: in the pipe, not yet read; may still arrive
  NotDelivered,  // exit code 2: nothing of it can arrive
  Failed,        // any other exit code, or the program did not start
  Refused,       // the request was not valid: nothing ran
};

Outcome OutcomeForExitCode(std::uint32_t exitCode);
std::string_view OutcomeName(Outcome outcome);
// What an exit code means, for the reply's message.
std::string ExitCodeMessage(std::uint32_t exitCode);

// What the message adds when cookies of the request were left out (see
// CarryCookies); nothing for none. keptFile: every cookie was left out, so
// the program was given no list and the site's cookie file stays.
std::string CookiesLeftOutMessage(std::size_t cookiesLeftOut, bool keptFile);

// {"id": …, "outcome": …, "exitCode": N, "cookiesLeftOut": N, "message": "…"},
// the id, the exit code and the cookies left out not there when there are
// none. A message that would take the reply past kMaxReplySize is cut.
std::string ReplyText(const std::string& id, Outcome outcome, std::optional<std::uint32_t> exitCode,
                      std::string_view message, std::size_t cookiesLeftOut = 0);

// {"id": …, "manager": "running" or "absent", "version": "…"}.
std::string StatusReplyText(const std::string& id, bool managerRunning, std::string_view version);

}  // namespace zyp::messaging
