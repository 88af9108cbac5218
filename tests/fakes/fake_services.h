#pragma once
// Every fake a request needs, wired into one Services value.
#include "cookies/cookie_store.h"
#include "intake/services.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"
#include "tests/fakes/fake_queue_pipe.h"
#include "tests/fakes/fake_registry.h"

namespace zyp::fakes {

struct FakeServices {
  FakeDesktop desktop;
  FakeFiles files;
  FakeLocale locale;
  FakeRegistry registry;
  FakeQueuePipe pipe;
  cookies::CookieStore cookies{files, locale};
  intake::Trace trace;
  intake::Services services{desktop, desktop, desktop, files, locale, registry, cookies, pipe, trace};
};

}  // namespace zyp::fakes
