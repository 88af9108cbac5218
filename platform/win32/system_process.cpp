#include "platform/win32/system_process.h"

#include <windows.h>

#include <string>

#include "platform/win32/check.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {

std::u16string SystemProcess::CommandLine() {
  // The process's own copy: never null.
  return FromWide(::GetCommandLineW());
}

std::u16string SystemProcess::ModuleFileName() {
  std::wstring path(modulePathCapacity_, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), modulePathCapacity_);
  ThrowLastErrorIf(length == 0, "GetModuleFileNameW");
  // A path that fills the buffer was cut short: a folder taken from it would
  // name another place, and a companion started from there another program.
  if (length >= modulePathCapacity_) ThrowLastError("GetModuleFileNameW", ERROR_INSUFFICIENT_BUFFER);
  return FromWide(path.data(), length);
}

void SystemProcess::Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace zyp::win32
