#pragma once
// What dispatch needs of its own process: the raw command line, the path of
// the program's own file, and a pause of the calling thread.
#include <cstdint>
#include <string>

namespace zyp::platform {

class Process {
 public:
  virtual ~Process() = default;
  // GetCommandLineW: the whole command line as one text.
  virtual std::u16string CommandLine() = 0;
  // GetModuleFileNameW for the program itself: at most 260 characters.
  // Throws PlatformError when the path is longer (the system would cut it)
  // or the call fails.
  virtual std::u16string ModuleFileName() = 0;
  // Sleep: blocks the calling thread.
  virtual void Pause(std::uint32_t milliseconds) = 0;
};

}  // namespace zyp::platform
