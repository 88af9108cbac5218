#pragma once
// What a command prints for the person who ran it.
#include <string_view>

namespace zyp::platform {

class CommandOutput {
 public:
  virtual ~CommandOutput() = default;
  // One line, ended with CR LF. Never throws: a line that cannot be written
  // is dropped, since the exit code still tells how the command ended.
  virtual void WriteLine(std::u16string_view line) = 0;
};

}  // namespace zyp::platform
