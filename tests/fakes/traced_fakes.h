#pragma once
// Every fake wired as the program wires the system when the trace is on: the
// platform's operations behind their tracing wrappers, the trace in memory.
#include <string>
#include <vector>

#include "cookies/cookie_store.h"
#include "intake/services.h"
#include "intake/trace.h"
#include "intake/traced_services.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"
#include "tests/fakes/fake_queue_pipe.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_trace_output.h"

namespace zyp::fakes {

struct TracedFakes {
  FakeDesktop desktop;
  FakeFiles files;
  FakeLocale locale;
  FakeRegistry registry;
  FakeQueuePipe pipe;
  FakeTraceOutput output;
  intake::Trace trace{output};
  intake::TracedFiles tracedFiles{files, trace};
  intake::TracedWindowing tracedWindowing{desktop, trace};
  intake::TracedShell tracedShell{desktop, trace};
  intake::TracedRegistry tracedRegistry{registry, trace};
  intake::TracedQueuePipe tracedPipe{pipe, trace};
  cookies::CookieStore cookies{tracedFiles, locale};
  intake::Services services{desktop,        tracedWindowing, tracedShell, tracedFiles, locale,
                            tracedRegistry, cookies,         tracedPipe,  trace};

  // The "step" of every line, in order.
  std::vector<std::string> Steps() const {
    std::vector<std::string> steps;
    for (std::size_t at = output.text.find("\"step\":\""); at != std::string::npos;
         at = output.text.find("\"step\":\"", at + 1)) {
      const std::size_t begin = at + 8;
      steps.push_back(output.text.substr(begin, output.text.find('"', begin) - begin));
    }
    return steps;
  }
};

}  // namespace zyp::fakes
