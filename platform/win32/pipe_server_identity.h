#pragma once
// Who serves a pipe: the user and the session of the process at the other
// end. Whoever creates a pipe name first serves it, so before anything is
// written the program makes sure that it talks to a process of its own user
// in its own session, as the queue manager on this desktop always is.
#include <windows.h>

#include <cstdint>
#include <vector>

namespace zyp::win32 {

// The user a process runs as (the bytes of its token's user SID) and its
// session.
struct ProcessIdentity {
  std::vector<std::uint8_t> user;
  DWORD session = 0;
  bool operator==(const ProcessIdentity&) const = default;
};

// Finds out who a process is; tests stand in for other users and sessions.
class ProcessIdentities {
 public:
  virtual ~ProcessIdentities() = default;
  // Throws PlatformError naming the call when the process cannot be asked.
  virtual ProcessIdentity Of(DWORD processId) = 0;
  // This process.
  virtual ProcessIdentity Self() = 0;
};

// The system's answer, from the process's token.
class SystemProcessIdentities final : public ProcessIdentities {
 public:
  ProcessIdentity Of(DWORD processId) override;
  ProcessIdentity Self() override { return Of(::GetCurrentProcessId()); }
};

// True when the process serving the pipe runs as the same user in the same
// session as this process; false when it does not or cannot be told.
bool ServedBySameUserAndSession(HANDLE pipe, ProcessIdentities& identities);

}  // namespace zyp::win32
