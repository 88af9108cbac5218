// Dispatch of one address request with a cookie list, against fakes that
// cost next to nothing, with the trace off (as without ZYP_TRACE) and on
// (every operation wrapped, the lines built and kept in memory). Prints the
// time per request of each and their ratio.
//   zyp_trace_bench [requests]   (default 20000)
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "intake/dispatch.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/traced_fakes.h"

namespace {

constexpr char16_t kCommandLine[] =
    u"\"C:\\Program Files\\ZYP\\ZYPQueueAddURL.exe\" http://www.example.com/file.zip "
    u"\"cookielist=id=42; session=abcdef0123456789; lang=en\" cookies=FF \"agent=Mozilla/5.0 (X11)\" "
    u"\"linktext=The file\"";

template <typename Fakes>
double NanosecondsPerRequest(int requests) {
  Fakes fake;
  fake.desktop.windows[u"TfrmZYPQueueManager"] = 0x777;
  fake.registry.AddKey(u"SOFTWARE\\Tarvesk Software\\Pelloran");
  fake.desktop.commandLine = kCommandLine;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < requests; ++i) {
    zyp::intake::Dispatch(fake.services);
    fake.pipe.writes.clear();
    fake.desktop.log.clear();
    fake.desktop.posted.clear();
    if constexpr (requires { fake.output.text; }) fake.output.text.clear();
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / requests;
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (requests <= 0) return 2;
  // Warm-up, then off and on twice each, alternating.
  NanosecondsPerRequest<zyp::fakes::FakeServices>(requests / 10 + 1);
  NanosecondsPerRequest<zyp::fakes::TracedFakes>(requests / 10 + 1);
  double off = 0, on = 0;
  for (int round = 0; round < 2; ++round) {
    off += NanosecondsPerRequest<zyp::fakes::FakeServices>(requests) / 2;
    on += NanosecondsPerRequest<zyp::fakes::TracedFakes>(requests) / 2;
  }
  std::printf("dispatch of one address request, %d requests each:\n", requests);
  std::printf("  trace off (no ZYP_TRACE): %8.2f us per request\n", off / 1000);
  std::printf("  trace on (in memory):     %8.2f us per request\n", on / 1000);
  std::printf("  ratio on / off: %.2f\n", on / off);
  return 0;
}
