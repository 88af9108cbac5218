#pragma once
// Lines for whoever started the program: through the standard output handle
// the parent gave, or else in the parent's console. A program of the GUI
// subsystem started from a console window gets no handle, and must never
// open a console window of its own.
#include <windows.h>

#include "platform/command_output.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::win32 {

class SystemCommandOutput final : public platform::CommandOutput {
 public:
  // Attaches to the parent's console (AttachConsole(ATTACH_PARENT_PROCESS))
  // only when there is no standard output handle; with neither, every line
  // is dropped.
  SystemCommandOutput();
  // A console gets the UTF-16 text through WriteConsoleW, whatever its code
  // page; a file or a pipe gets UTF-8 through WriteFile.
  void WriteLine(std::u16string_view line) override;

 private:
  // Not owned when it is the standard handle.
  HANDLE output_ = nullptr;
  // The parent's console screen ("CONOUT$"), when the lines go there.
  UniqueHandle console_;
};

}  // namespace zyp::win32
