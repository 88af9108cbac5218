// The program's own start-up, work, loop and tear-down, built from the same
// sources in the same order as the program, with a clock read between the
// steps: where an address request's time and private memory go. Run it like
// the program:
//   zyp_lifecycle_phases.exe http://www.example.com/file.zip
// It writes the phases to the file named by ZYP_PHASES (a GUI program has no
// console): name, milliseconds, then private and peak private KiB at its end.
#include <windows.h>

#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/main_window.h"
#include "app/ole_initialization.h"
#include "cookies/cookie_store.h"
#include "pipes/pipe_module.h"
#include "platform/win32/system_files.h"
#include "platform/win32/system_locale.h"
#include "platform/win32/system_notification_area.h"

namespace {

double NowMs() {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class Phases {
 public:
  Phases() : last_(NowMs()) { Mark("entry"); }
  void Mark(const char* name) {
    const double now = NowMs();
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    lines_.push_back(std::string(name) + " " + std::to_string(now - last_) + " " +
                     std::to_string(counters.PagefileUsage / 1024) + " " +
                     std::to_string(counters.PeakPagefileUsage / 1024));
    last_ = NowMs();
  }
  ~Phases() {
    wchar_t path[MAX_PATH + 1] = {};
    if (::GetEnvironmentVariableW(L"ZYP_PHASES", path, MAX_PATH) == 0) return;
    FILE* file = _wfopen(path, L"a");
    if (file == nullptr) return;
    for (const std::string& line : lines_) std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }

 private:
  double last_;
  std::vector<std::string> lines_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const auto started = std::chrono::steady_clock::now();
  Phases phases;  // written last, after every shut-down step
  int exitCode = 0;
  {
    zyp::app::ComInitialization com;
    zyp::app::Application application;
    phases.Mark("application_ole_icon_window");
    zyp::pipes::PipeModule pipeModule;
    zyp::win32::SystemFiles files;
    zyp::win32::SystemLocale locale;
    zyp::cookies::CookieStore cookies(files, locale);
    phases.Mark("pipe_module_cookie_store");
    com.Initialize();
    phases.Mark("co_initialize");
    {
      zyp::win32::SystemNotificationArea notificationArea;
      phases.Mark("notification_area");
      zyp::intake::Trace trace;
      zyp::app::MainWindow mainWindow(application, notificationArea, files, locale, cookies, trace);
      // Creation holds the work and its fixed 1000 ms pause.
      phases.Mark("main_window_and_work_incl_pause");
      application.Run();
      phases.Mark("message_loop");
      mainWindow.FinishDelivery(started + std::chrono::milliseconds(4500));
      phases.Mark("finish_delivery");
      mainWindow.DestroyComponents();
      phases.Mark("destroy_components");
      exitCode = mainWindow.ExitCode();
    }
    phases.Mark("main_window_destroyed");
  }
  phases.Mark("modules_shut_down");
  return exitCode;
}
