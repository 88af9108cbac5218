#pragma once
// Running another program to its end, as the browser host runs
// ZYPQueueAddURL.exe for each request.
#include <cstdint>
#include <string>

namespace zyp::platform {

class ChildPrograms {
 public:
  virtual ~ChildPrograms() = default;
  // CreateProcessW of the file at the full path program (never searched for)
  // with the command line "\"program\" " + arguments, inheriting no handle
  // of this process; waits for its end and returns its exit code. One still
  // running after limitMs is ended (TerminateProcess) and reported as
  // PlatformError ERROR_TIMEOUT naming "WaitForSingleObject". A start that
  // fails throws PlatformError naming CreateProcessW.
  virtual std::uint32_t RunToEnd(const std::u16string& program, const std::u16string& arguments,
                                 std::uint32_t limitMs) = 0;
};

}  // namespace zyp::platform
