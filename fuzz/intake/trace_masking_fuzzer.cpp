// Requests with secret cookie values, their arguments, quoting and cookie
// lists drawn from the input: no cookie value ever reaches the trace of the
// whole run, from the command line or from a parameter file.
#include <cstdlib>

#include "intake/command_line.h"
#include "intake/dispatch.h"
#include "intake/trace_masking.h"
#include "intake/utf8.h"
#include "tests/fakes/traced_fakes.h"
#include "tests/intake/secret_requests.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t settings = data[0];
  std::size_t next = 1;
  zyp::testing::ByteSource source([&]() -> std::uint8_t { return next < size ? data[next++] : 0; });
  const zyp::testing::SecretRequest request = zyp::testing::MakeSecretRequest(source);
  const zyp::intake::CommandLine split(request.commandLine);
  Check(split.Count() == request.arguments.size());
  Check(!zyp::testing::HoldsSecret(zyp::intake::MaskCommandLine(request.commandLine)));

  zyp::fakes::TracedFakes fake;
  if (settings & 1) fake.desktop.windows[u"TfrmZYPQueueManager"] = 0x777;
  if (settings & 2) fake.registry.AddKey(u"SOFTWARE\\Tarvesk Software\\Pelloran");
  fake.pipe.serverAnswers = (settings & 4) == 0;
  fake.desktop.commandLine = request.commandLine;
  if (settings & 8) {
    std::u16string text = u"ZYP Parameter File";
    for (const std::u16string& argument : request.arguments) text += u"\r\n" + argument;
    fake.files.AddFile(u"C:\\t\\p.txt", "\xEF\xBB\xBF" + zyp::intake::ToUtf8(text));
    fake.desktop.commandLine = u"p.exe C:\\t\\p.txt";
  }
  const zyp::intake::Delivery delivery = zyp::intake::Dispatch(fake.services);
  fake.trace.Exit(zyp::intake::ExitCodeFor(delivery, zyp::intake::PipeProgress::Read, false));
  Check(!zyp::testing::HoldsSecret(fake.output.text));
  return 0;
}
