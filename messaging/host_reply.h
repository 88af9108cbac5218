#pragma once
// The host's answers: one JSON object per request, carrying the request's id
// unchanged, never longer than the browsers take from a host.
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

// {"id": …, "outcome": …, "exitCode": N, "message": "…"}, the id and the
// exit code left out when there is none. A message that would take the reply
// past kMaxReplySize is cut.
std::string ReplyText(const std::string& id, Outcome outcome, std::optional<std::uint32_t> exitCode,
                      std::string_view message);

// {"id": …, "manager": "running" or "absent", "version": "…"}.
std::string StatusReplyText(const std::string& id, bool managerRunning, std::string_view version);

}  // namespace zyp::messaging
