#include "platform/win32/system_process.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace zyp::win32 {

std::u16string SystemProcess::CommandLine() {
  const wchar_t* line = ::GetCommandLineW();
  return line != nullptr ? FromWide(line) : std::u16string();
}

std::u16string SystemProcess::ModuleFileName() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return FromWide(path, length);
}

void SystemProcess::Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace zyp::win32
