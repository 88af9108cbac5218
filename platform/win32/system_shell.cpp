#include "platform/win32/system_shell.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "platform/win32/check.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {

namespace {

bool InJob() {
  // A process that cannot tell counts as outside any job: the shell then
  // starts the companion as it always could.
  BOOL inJob = FALSE;
  return ::IsProcessInJob(::GetCurrentProcess(), nullptr, &inJob) && inJob;
}

// The same command line the shell builds for a program file.
platform::StartedProgram StartOutsideJob(const std::u16string& file, const std::u16string& parameters,
                                         const std::u16string& directory, int showCommand) {
  std::wstring commandLine = L"\"" + ToWide(file) + L"\"";
  if (!parameters.empty()) commandLine += L" " + ToWide(parameters);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCommand);
  PROCESS_INFORMATION info{};
  ThrowIfWin32BoolFalse(
      ::CreateProcessW(Wide(file), commandLine.data(), nullptr, nullptr, FALSE, CREATE_BREAKAWAY_FROM_JOB, nullptr,
                       directory.empty() ? nullptr : Wide(directory), &startup, &info),
      platform::kStartOutsideJobCall);
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  return {true, info.dwProcessId};
}

platform::StartedProgram StartThroughShell(HWND owner, const std::u16string& verb, const std::u16string& file,
                                           const std::u16string& parameters, const std::u16string& directory,
                                           int showCommand) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // No error box on behalf of a hidden program, and no return before the
  // start is done; the process handle only tells the trace who was started.
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = owner;
  info.lpVerb = Wide(verb);
  info.lpFile = Wide(file);
  info.lpParameters = Wide(parameters);
  info.lpDirectory = Wide(directory);
  info.nShow = showCommand;
  ThrowIfWin32BoolFalse(::ShellExecuteExW(&info), platform::kStartThroughShellCall);
  const UniqueHandle process(info.hProcess);
  // No process handle when the shell handed the file to a running program.
  return {false, process ? static_cast<std::uint32_t>(::GetProcessId(process.Get())) : 0u};
}

}  // namespace

platform::StartedProgram SystemShell::Execute(platform::WindowHandle owner, const std::u16string& verb,
                                              const std::u16string& file, const std::u16string& parameters,
                                              const std::u16string& directory, int showCommand) {
  // The started manager comes to the front on its own; this hidden program
  // has the right to the foreground only while it runs, so it hands it on.
  ::AllowSetForegroundWindow(ASFW_ANY);
  if (InJob()) {
    try {
      return StartOutsideJob(file, parameters, directory, showCommand);
    } catch (const PlatformError& error) {
      // A job that forbids breakaway refuses the flag: start as anywhere else.
      if (error.Code() != ERROR_ACCESS_DENIED) throw;
    }
  }
  return StartThroughShell(reinterpret_cast<HWND>(owner), verb, file, parameters, directory, showCommand);
}

}  // namespace zyp::win32
