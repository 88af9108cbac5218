#include "platform/win32/pipe_server_identity.h"

#include "platform/win32/check.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::win32 {

namespace {

// A piece of token information, in a block of the size the token asks for.
std::vector<std::uint8_t> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  // Asks only for the size: the call fails by design, with the size set.
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  ThrowLastErrorIf(size == 0, "GetTokenInformation");
  std::vector<std::uint8_t> block(size);
  ThrowIfWin32BoolFalse(::GetTokenInformation(token, kind, block.data(), size, &size), "GetTokenInformation");
  return block;
}

}  // namespace

ProcessIdentity SystemProcessIdentities::Of(DWORD processId) {
  const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  ThrowLastErrorIf(!process, "OpenProcess");
  HANDLE rawToken = nullptr;
  ThrowIfWin32BoolFalse(::OpenProcessToken(process.Get(), TOKEN_QUERY, &rawToken), "OpenProcessToken");
  const UniqueHandle token(rawToken);

  const std::vector<std::uint8_t> user = TokenInformation(token.Get(), TokenUser);
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  ThrowLastErrorIf(!::IsValidSid(sid), "IsValidSid");
  const auto* sidBytes = static_cast<const std::uint8_t*>(sid);

  DWORD session = 0;
  DWORD size = 0;
  ThrowIfWin32BoolFalse(::GetTokenInformation(token.Get(), TokenSessionId, &session, sizeof(session), &size),
                        "GetTokenInformation");
  return ProcessIdentity{std::vector<std::uint8_t>(sidBytes, sidBytes + ::GetLengthSid(sid)), session};
}

bool ServedBySameUserAndSession(HANDLE pipe, ProcessIdentities& identities) {
  // A server that cannot be named or asked is not known to be ours: it gets
  // nothing.
  ULONG server = 0;
  if (!::GetNamedPipeServerProcessId(pipe, &server)) return false;
  try {
    return identities.Self() == identities.Of(server);
  } catch (const PlatformError&) {
    return false;
  }
}

}  // namespace zyp::win32
