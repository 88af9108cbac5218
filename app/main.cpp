// ZYPQueueAddURL: hands a web address and its browsing context to the
// download queue manager, then ends by itself.
#include <windows.h>

#include <chrono>
#include <optional>

#include "app/application.h"
#include "app/main_window.h"
#include "app/ole_initialization.h"
#include "cookies/cookie_store.h"
#include "intake/trace.h"
#include "intake/traced_services.h"
#include "pipes/pipe_module.h"
#include "platform/win32/system_files.h"
#include "platform/win32/system_locale.h"
#include "platform/win32/system_notification_area.h"
#include "platform/win32/system_trace_output.h"

namespace {

// Whatever the queue manager does, the run ends within the closing pause,
// the connection wait and two seconds; delivery may go on until this long
// after the start, leaving the rest for the tear-down.
constexpr std::chrono::milliseconds kDeliveryDeadline{4500};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const auto started = std::chrono::steady_clock::now();
  // Without ZYP_TRACE nothing below is traced and nothing is wrapped.
  const auto traceOutput = zyp::win32::SystemTraceOutput::FromEnvironment();
  zyp::intake::Trace offTrace;
  std::optional<zyp::intake::Trace> onTrace;
  if (traceOutput) onTrace.emplace(*traceOutput);
  zyp::intake::Trace& trace = onTrace ? *onTrace : offTrace;

  // Start-up runs top to bottom and shut-down in reverse: the cookie store,
  // the pipe module, the application (its window, then OLE), and COM last.
  zyp::app::ComInitialization com;
  zyp::app::Application application;
  application.onReport = [&trace](const std::u16string& text) {
    trace.Step("error_box", [&](zyp::intake::TraceLine& line) { line.Text("text", text); });
  };
  zyp::pipes::PipeModule pipeModule;
  zyp::win32::SystemFiles systemFiles;
  zyp::intake::TracedFiles tracedFiles(systemFiles, trace);
  zyp::platform::Files& files = trace.On() ? static_cast<zyp::platform::Files&>(tracedFiles) : systemFiles;
  zyp::win32::SystemLocale locale;
  zyp::cookies::CookieStore cookies(files, locale);
  com.Initialize();

  zyp::win32::SystemNotificationArea notificationArea;
  zyp::app::MainWindow mainWindow(application, notificationArea, files, locale, cookies, trace);
  application.Run();
  mainWindow.FinishDelivery(started + kDeliveryDeadline);
  // Every pipe client and worker is gone before the modules shut down.
  mainWindow.DestroyComponents();
  const int exitCode = mainWindow.ExitCode();
  trace.Exit(exitCode);
  return exitCode;
}
