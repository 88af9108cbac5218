#pragma once
// "--register" and "--unregister": the host's registration for the user who
// runs it, with the system's registry, files and folders.
#include "messaging/host_registration.h"
#include "platform/process.h"

namespace zyp::browser_host {

// The exit code: 0 done, 1 a system call failed, 2 bad arguments.
int RunRegistrationCommand(const messaging::HostArguments& arguments, platform::Process& process);

}  // namespace zyp::browser_host
