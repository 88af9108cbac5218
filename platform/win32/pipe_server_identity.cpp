#include "platform/win32/pipe_server_identity.h"

#include "platform/win32/scoped_handle.h"

namespace zyp::win32 {

namespace {

// A piece of token information, in a block of the size the token asks for.
std::optional<std::vector<std::uint8_t>> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  // Asks only for the size: the call fails by design, with the size set.
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  if (size == 0) return std::nullopt;
  std::vector<std::uint8_t> block(size);
  if (!::GetTokenInformation(token, kind, block.data(), size, &size)) return std::nullopt;
  return block;
}

}  // namespace

std::optional<ProcessIdentity> SystemProcessIdentities::Of(DWORD processId) {
  const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return std::nullopt;
  HANDLE rawToken = nullptr;
  if (!::OpenProcessToken(process.Get(), TOKEN_QUERY, &rawToken)) return std::nullopt;
  const UniqueHandle token(rawToken);

  const auto user = TokenInformation(token.Get(), TokenUser);
  if (!user) return std::nullopt;
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(user->data())->User.Sid;
  if (!::IsValidSid(sid)) return std::nullopt;
  const auto* sidBytes = static_cast<const std::uint8_t*>(sid);

  DWORD session = 0;
  DWORD size = 0;
  if (!::GetTokenInformation(token.Get(), TokenSessionId, &session, sizeof(session), &size)) return std::nullopt;
  return ProcessIdentity{std::vector<std::uint8_t>(sidBytes, sidBytes + ::GetLengthSid(sid)), session};
}

bool ServedBySameUserAndSession(HANDLE pipe, ProcessIdentities& identities) {
  ULONG server = 0;
  if (!::GetNamedPipeServerProcessId(pipe, &server)) return false;
  const auto self = identities.Self();
  const auto other = identities.Of(server);
  return self && other && *self == *other;
}

}  // namespace zyp::win32
