// Runs an address request of ZYPQueueAddURL and the least program that
// delivers the same message, alternately, beside a running stand-in queue
// manager, and prints medians and ratios of: the time from process start
// until the manager has journaled the message, the run time (the program's
// without its fixed 1000 ms pause), and the peak working set and peak private
// bytes as seen from outside. With a second program (an earlier build of
// ZYPQueueAddURL beside it), that one runs in the same rounds and the
// program's figures are also given as ratios to it: after / before.
//   zyp_delivery_bench.exe [runs] [earlier program]   (default 9, at least 5)
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/scoped_handle.h"

namespace {

using zyp::win32::UniqueHandle;

std::wstring Folder() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

double NowMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Occurrences of an event in the journal so far.
std::size_t CountEvents(const std::wstring& journal, const char* event) {
  const UniqueHandle file(::CreateFileW(journal.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  if (!file) return 0;
  std::string text;
  char buffer[65536];
  DWORD read = 0;
  while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read != 0) text.append(buffer, read);
  const std::string needle = std::string("\"event\":\"") + event + "\"";
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

UniqueHandle Start(const std::wstring& program, const std::wstring& arguments) {
  const std::wstring file = Folder() + program;
  std::wstring commandLine = L"\"" + file + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(file.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, Folder().c_str(),
                        &startup, &info))
    return UniqueHandle();
  const UniqueHandle thread(info.hThread);
  return UniqueHandle(info.hProcess);
}

struct Sample {
  double toMessage = -1;      // ms from start until the manager journaled the message
  double runTime = 0;         // ms from start until the process ended
  double peakWorkingSet = 0;  // KiB
  double peakPrivate = 0;     // KiB
  DWORD exitCode = 0;
};

Sample RunOnce(const std::wstring& program, const std::wstring& arguments, const std::wstring& journal) {
  Sample sample;
  const std::size_t before = CountEvents(journal, "message");
  const double start = NowMs();
  const UniqueHandle process = Start(program, arguments);
  if (!process) return sample;
  for (;;) {
    PROCESS_MEMORY_COUNTERS counters{};
    if (::GetProcessMemoryInfo(process.Get(), &counters, sizeof counters)) {
      sample.peakWorkingSet = std::max(sample.peakWorkingSet, counters.PeakWorkingSetSize / 1024.0);
      sample.peakPrivate = std::max(sample.peakPrivate, counters.PeakPagefileUsage / 1024.0);
    }
    if (sample.toMessage < 0 && CountEvents(journal, "message") > before) sample.toMessage = NowMs() - start;
    if (::WaitForSingleObject(process.Get(), 1) == WAIT_OBJECT_0) break;
  }
  sample.runTime = NowMs() - start;
  ::GetExitCodeProcess(process.Get(), &sample.exitCode);
  // A message journaled just after the end still counts, from its sighting.
  for (int i = 0; sample.toMessage < 0 && i < 500; ++i, ::Sleep(1))
    if (CountEvents(journal, "message") > before) sample.toMessage = NowMs() - start;
  return sample;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <typename Field>
std::vector<double> Column(const std::vector<Sample>& samples, Field field) {
  std::vector<double> values;
  for (const Sample& s : samples) values.push_back(s.*field);
  return values;
}

void PrintRow(const char* what, const std::vector<double>& values, const char* unit) {
  std::printf("  %-34s", what);
  for (const double v : values) std::printf(" %.0f", v);
  std::printf(" %s -> median %.1f %s\n", unit, Median(values), unit);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int runs = argc > 1 ? _wtoi(argv[1]) : 9;
  if (runs < 5) {
    std::fprintf(stderr, "at least 5 runs\n");
    return 2;
  }
  if (::FindWindowW(L"TfrmZYPQueueManager", nullptr)) {
    std::fprintf(stderr, "a queue manager is already running\n");
    return 2;
  }
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring journal =
      std::wstring(temp) + L"zyp-delivery-bench-" + std::to_wstring(::GetCurrentProcessId()) + L".jsonl";
  ::SetEnvironmentVariableW(L"ZYP_JOURNAL", journal.c_str());
  ::SetEnvironmentVariableW(L"ZYP_QM_IDLE_MS", L"600000");
  const UniqueHandle manager = Start(L"ZYPQueueManager.exe", L"");
  for (int i = 0; i < 1000 && CountEvents(journal, "ready") == 0; ++i) ::Sleep(10);
  if (!manager || CountEvents(journal, "ready") == 0) {
    std::fprintf(stderr, "the stand-in queue manager did not come up\n");
    return 1;
  }

  const std::wstring address = L"http://www.example.com/file.zip";
  const std::wstring earlierProgram = argc > 2 ? argv[2] : L"";
  std::vector<Sample> program, least, earlier;
  // One warm-up of each, then they alternate so that all meet the same load.
  RunOnce(L"ZYPQueueAddURL.exe", address, journal);
  RunOnce(L"zyp_least_delivery.exe", L"", journal);
  if (!earlierProgram.empty()) RunOnce(earlierProgram, address, journal);
  for (int i = 0; i < runs; ++i) {
    program.push_back(RunOnce(L"ZYPQueueAddURL.exe", address, journal));
    least.push_back(RunOnce(L"zyp_least_delivery.exe", L"", journal));
    if (!earlierProgram.empty()) earlier.push_back(RunOnce(earlierProgram, address, journal));
  }
  if (HWND window = ::FindWindowW(L"TfrmZYPQueueManager", nullptr)) ::PostMessageW(window, WM_CLOSE, 0, 0);
  ::WaitForSingleObject(manager.Get(), 10000);
  ::DeleteFileW(journal.c_str());

  int failures = 0;
  for (const Sample& s : program) failures += s.exitCode != 0 || s.toMessage < 0;
  for (const Sample& s : least) failures += s.exitCode != 0 || s.toMessage < 0;
  for (const Sample& s : earlier) failures += s.exitCode != 0 || s.toMessage < 0;

  std::vector<double> programWork;
  for (const Sample& s : program) programWork.push_back(s.runTime - 1000);
  std::printf("address request (%d runs each, one warm-up; %d runs failed to deliver)\n", runs, failures);
  std::printf("ZYPQueueAddURL.exe %ls:\n", address.c_str());
  PrintRow("start to message held", Column(program, &Sample::toMessage), "ms");
  PrintRow("run time", Column(program, &Sample::runTime), "ms");
  PrintRow("run time minus the 1000 ms pause", programWork, "ms");
  PrintRow("peak working set", Column(program, &Sample::peakWorkingSet), "KiB");
  PrintRow("peak private bytes", Column(program, &Sample::peakPrivate), "KiB");
  std::printf("least program (connect, write, flush, exit):\n");
  PrintRow("start to message held", Column(least, &Sample::toMessage), "ms");
  PrintRow("run time", Column(least, &Sample::runTime), "ms");
  PrintRow("peak working set", Column(least, &Sample::peakWorkingSet), "KiB");
  PrintRow("peak private bytes", Column(least, &Sample::peakPrivate), "KiB");
  std::printf("ratios program / least:\n");
  std::printf("  start to message held:          %.2f\n",
              Median(Column(program, &Sample::toMessage)) / Median(Column(least, &Sample::toMessage)));
  std::printf("  run time minus the pause:       %.2f   (goal <= 1.5)\n",
              Median(programWork) / Median(Column(least, &Sample::runTime)));
  std::printf("  peak working set:               %.2f   (goal <= 1.5)\n",
              Median(Column(program, &Sample::peakWorkingSet)) / Median(Column(least, &Sample::peakWorkingSet)));
  std::printf("  peak private bytes:             %.2f   (goal <= 1.5)\n",
              Median(Column(program, &Sample::peakPrivate)) / Median(Column(least, &Sample::peakPrivate)));
  if (!earlier.empty()) {
    std::vector<double> earlierWork;
    for (const Sample& s : earlier) earlierWork.push_back(s.runTime - 1000);
    std::printf("earlier program %ls:\n", earlierProgram.c_str());
    PrintRow("start to message held", Column(earlier, &Sample::toMessage), "ms");
    PrintRow("run time minus the 1000 ms pause", earlierWork, "ms");
    std::printf("ratios earlier / least:\n");
    std::printf("  start to message held:          %.2f\n",
                Median(Column(earlier, &Sample::toMessage)) / Median(Column(least, &Sample::toMessage)));
    std::printf("  run time minus the pause:       %.2f\n",
                Median(earlierWork) / Median(Column(least, &Sample::runTime)));
    std::printf("ratios program / earlier (after / before):\n");
    std::printf("  start to message held:          %.2f\n",
                Median(Column(program, &Sample::toMessage)) / Median(Column(earlier, &Sample::toMessage)));
    std::printf("  run time minus the pause:       %.2f\n", Median(programWork) / Median(earlierWork));
  }
  return failures == 0 ? 0 : 1;
}
