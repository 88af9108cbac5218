// Any command line: every argument is non-empty and free of double quotes,
// and quoting each argument again gives back the same arguments.
#include <cstdlib>

#include "fuzz/fuzz_text.h"
#include "intake/command_line.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string raw = zyp::fuzz::Utf16FromBytes(data, size);
  const zyp::intake::CommandLine line(raw);
  std::u16string again = u"prog";
  for (std::size_t i = 1; i <= line.Count(); ++i) {
    const std::u16string argument = line.Argument(i);
    Check(!argument.empty());
    Check(argument.find(u'"') == std::u16string::npos);
    Check(argument.find(u'\0') == std::u16string::npos);
    again += u" \"" + argument + u"\"";
  }
  Check(line.Argument(line.Count() + 1).empty());

  const zyp::intake::CommandLine reparsed(again);
  Check(reparsed.Count() == line.Count());
  for (std::size_t i = 1; i <= line.Count(); ++i) Check(reparsed.Argument(i) == line.Argument(i));
  return 0;
}
