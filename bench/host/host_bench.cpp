// The browser host against the program's own run: the time from a request's
// last byte to its reply, next to the same request run directly as
// ZYPQueueAddURL.exe with the parameter file the host would write; and the
// host's memory with eight runs in flight. Prints figures, checks bounds.
#include <windows.h>

#include <gtest/gtest.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/browser_host_driver.h"
#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

using Clock = std::chrono::steady_clock;

constexpr Milliseconds kAllowedOverhead{30};

double MedianMs(std::vector<Clock::duration> times) {
  std::sort(times.begin(), times.end());
  return std::chrono::duration<double, std::milli>(times[times.size() / 2]).count();
}

std::string Request(int n) {
  return R"({"type":"add","id":)" + std::to_string(n) + R"(,"url":"http://bench.example/)" + std::to_string(n) +
         R"(","cookies":"id=42","browser":"CH","pageTitle":"Bench"})";
}

// The parameter file the host writes for Request(n).
std::string ParameterFile(int n) {
  return "\xEF\xBB\xBFZYP Parameter File\r\nhttp://bench.example/" + std::to_string(n) +
         "\r\ncookielist=id=42\r\ncookies=CH\r\npagetitle=Bench\r\n";
}

class HostBench : public ManagerFreeTest {};

TEST_F(HostBench, RequestToReplyAgainstTheProgramsOwnRun) {
  const int runs = static_cast<int>(SizeFromEnvironment(L"ZYP_HOST_BENCH_RUNS", 15));
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"600000"}});
  ASSERT_TRUE(manager.WaitReady());
  BrowserHostProcess host({journal_.Variable()});
  std::vector<Clock::duration> direct, warm, cold;
  for (int n = 0; n < runs; ++n) {
    // Directly: the program with the same file, timed to its end.
    const testing::ScratchFile file(L"bench-" + std::to_wstring(n) + L".txt", ParameterFile(3 * n));
    Clock::time_point start = Clock::now();
    const RunResult run = RunProgram(kProgramExe, L"\"" + file.Path() + L"\"", {journal_.Variable()}, 15s);
    direct.push_back(Clock::now() - start);
    ASSERT_EQ(run.exitCode, 0u);
    // Through the running host, as a port the extension keeps open.
    start = Clock::now();
    ASSERT_TRUE(host.Send(Request(3 * n + 1)));
    ASSERT_TRUE(host.NextReplyText(15s).has_value());
    warm.push_back(Clock::now() - start);
    // Through a host started for the one request, as a single message does.
    start = Clock::now();
    BrowserHostProcess once({journal_.Variable()});
    once.Send(Request(3 * n + 2));
    ASSERT_TRUE(once.NextReplyText(15s).has_value());
    cold.push_back(Clock::now() - start);
  }
  const double directMs = MedianMs(direct), warmMs = MedianMs(warm), coldMs = MedianMs(cold);
  std::printf(
      "median of %d: program alone %.1f ms; through the running host %.1f ms (+%.1f ms, ratio %.3f); "
      "through a host started for it %.1f ms (+%.1f ms, ratio %.3f)\n",
      runs, directMs, warmMs, warmMs - directMs, warmMs / directMs, coldMs, coldMs - directMs, coldMs / directMs);
  EXPECT_LE(warmMs - directMs, static_cast<double>(kAllowedOverhead.count()));
}

TEST_F(HostBench, MemoryWithEightRunsInFlight) {
  // A manager that never reads keeps each run until its deadline.
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"600000"}, {L"ZYP_QM_NO_READ", L"1"}});
  ASSERT_TRUE(manager.WaitReady());
  BrowserHostProcess host({journal_.Variable()});
  const win32::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, host.Id()));
  ASSERT_TRUE(process.Valid());
  const auto memory = [&] {
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(process.Get(), &counters, sizeof(counters));
    return counters;
  };
  host.Send(R"({"type":"status"})");
  ASSERT_TRUE(host.NextReplyText(10s).has_value());
  const PROCESS_MEMORY_COUNTERS idle = memory();
  for (int n = 0; n < 8; ++n) host.Send(Request(n));
  // Sampled while the runs wait for the manager to read.
  SIZE_T workingSet = 0, pagefile = 0;
  for (int sample = 0; sample < 20; ++sample) {
    ::Sleep(100);
    const PROCESS_MEMORY_COUNTERS now = memory();
    workingSet = std::max(workingSet, now.WorkingSetSize);
    pagefile = std::max(pagefile, now.PagefileUsage);
  }
  ASSERT_EQ(host.Replies(8, 30s).size(), 8u);
  std::printf(
      "host memory: idle working set %.1f MiB, committed %.1f MiB; with 8 runs in flight working set "
      "%.1f MiB, committed %.1f MiB\n",
      idle.WorkingSetSize / 1048576.0, idle.PagefileUsage / 1048576.0, workingSet / 1048576.0, pagefile / 1048576.0);
}

}  // namespace
}  // namespace zyp::e2e
