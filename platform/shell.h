#pragma once
// Starting another program through the shell, or past the job object that
// holds this program.
#include <cstdint>
#include <string>

#include "platform/window_handle.h"

namespace zyp::platform {

// How a started program was started, for the trace.
struct StartedProgram {
  // Started with CreateProcessW and CREATE_BREAKAWAY_FROM_JOB: the program
  // runs in a job that lets its children break away, and the companion must
  // outlive the job (a browser closes it, killing what is left inside).
  bool outsideJob = false;
  std::uint32_t processId = 0;  // 0 when the shell did not say
};

// The calls a failed start names: the route it took.
inline constexpr char kStartOutsideJobCall[] = "CreateProcessW";
inline constexpr char kStartThroughShellCall[] = "ShellExecuteExW";

class Shell {
 public:
  virtual ~Shell() = default;
  // Starts file with the parameters, the verb, the working directory and the
  // show command, and returns once the start is done, without waiting for
  // the program. Inside a job that allows breakaway: CreateProcessW with
  // CREATE_BREAKAWAY_FROM_JOB and the command line "file" + " " + parameters.
  // Otherwise (no job, or one that forbids breakaway): ShellExecuteExW with
  // SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC and the owner, so that no shell
  // error box ever shows for this hidden program; zone checks stay on.
  // Either way the started program may take the foreground. A start that
  // fails throws PlatformError naming the call of the route it took.
  virtual StartedProgram Execute(WindowHandle owner, const std::u16string& verb, const std::u16string& file,
                                 const std::u16string& parameters, const std::u16string& directory,
                                 int showCommand) = 0;
};

}  // namespace zyp::platform
