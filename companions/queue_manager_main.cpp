// ZYPQueueManager stand-in: takes queue messages on the pipe and the control
// message on its hidden window, and journals everything it receives.
#include <windows.h>

#include "companions/command_line_record.h"
#include "companions/handoff.h"
#include "companions/manager_knobs.h"
#include "companions/manager_window.h"
#include "companions/pipe_server.h"
#include "intake/fixed_texts.h"
#include "platform/ascii_text.h"
#include "platform/win32/scoped_handle.h"

namespace {

// Held for the whole run by the copy that owns the queue.
constexpr wchar_t kRunningLock[] = L"Local\\ZYPQueueManager.Running";

int Run() {
  using namespace zyp::companions;
  Journal journal;
  const zyp::intake::CommandLine commandLine = RawCommandLine();
  JournalStart(journal, commandLine);

  const zyp::win32::UniqueHandle running(::CreateMutexW(nullptr, FALSE, kRunningLock));
  if (!running || ::GetLastError() == ERROR_ALREADY_EXISTS) {
    HandOff(journal, commandLine);
    return 0;
  }

  const ManagerKnobs knobs = ManagerKnobs::FromEnvironment();
  ActivityClock activity;
  const bool queueStarted = zyp::AsciiEqualIgnoreCase(commandLine.Argument(1), zyp::intake::kStartWord);
  TfrmZYPQueueManager window(journal, activity, knobs.idleMs, queueStarted);
  if (!window.Created()) {
    journal.Write(JournalEntry("exit").Text("reason", u"no window").Number("error", window.CreationError()));
    return 1;
  }
  PipeServer server(journal, knobs, activity);
  const bool pipe = !knobs.noPipe && server.Start();
  journal.Write(JournalEntry("ready").Flag("pipe", pipe).Text("queue", queueStarted ? u"started" : u"stopped"));

  MSG msg{};
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  journal.Write(JournalEntry("exit")
                    .Text("reason", window.ExitReason())
                    .Text("queue", window.QueueStarted() ? u"started" : u"stopped"));
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    return Run();
  } catch (...) {
    return 1;
  }
}
