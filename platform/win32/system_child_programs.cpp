#include "platform/win32/system_child_programs.h"

#include <windows.h>

#include <string>

#include "platform/win32/check.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {

std::uint32_t SystemChildPrograms::RunToEnd(const std::u16string& program, const std::u16string& arguments,
                                            std::uint32_t limitMs) {
  const std::wstring file = ToWide(program);
  // CreateProcessW may write to the command line.
  std::wstring commandLine = L"\"" + file + L"\" " + ToWide(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  // The program is named by its full path, so no search applies; it gets no
  // handle of ours, least of all the browser's pipes, which a queue manager
  // it starts would otherwise keep open.
  ThrowIfWin32BoolFalse(::CreateProcessW(file.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                         &startup, &started),
                        "CreateProcessW");
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  const DWORD waited = ::WaitForSingleObject(process.Get(), limitMs);
  if (waited != WAIT_OBJECT_0) {
    const DWORD error = waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : ::GetLastError();
    // Ended, so that it holds nothing of the request any more. A refusal
    // means it has ended already; the wait is as long as the system takes.
    ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), INFINITE);
    ThrowLastError("WaitForSingleObject", error);
  }
  DWORD exitCode = 0;
  ThrowIfWin32BoolFalse(::GetExitCodeProcess(process.Get(), &exitCode), "GetExitCodeProcess");
  return exitCode;
}

}  // namespace zyp::win32
