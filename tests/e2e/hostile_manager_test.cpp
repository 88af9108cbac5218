// Queue managers and other programs that turn on the program: a manager that
// floods the pipe with replies, sends pieces without end or one huge message,
// and a program that posts the pipe client's notices to every window of
// ours. Whatever they do, the run ends in its bound, holds little memory and
// no temporary file, and reports exactly what became of the request.
#include <windows.h>

#include <gtest/gtest.h>
#include <psapi.h>

#include <atomic>
#include <thread>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

constexpr wchar_t kAddress[] = L"http://hostile.example.com/f.zip";
constexpr char kMessage[] = "ADDURL:http://hostile.example.com/f.zip";

// The largest temporary file of a multi-packet message seen so far in the
// program's temporary folder, and the largest working set the program had,
// watched while it runs.
struct Watch {
  std::wstring tempFolder;
  std::uint64_t largestTempFile = 0;
  bool tempFileSeen = false;
  SIZE_T peakWorkingSet = 0;

  void Look(HANDLE process) {
    WIN32_FIND_DATAW data;
    if (const win32::UniqueFind find(::FindFirstFileW((tempFolder + L"PMM*.tmp").c_str(), &data)); find) {
      do {
        tempFileSeen = true;
        largestTempFile =
            std::max(largestTempFile, (std::uint64_t{data.nFileSizeHigh} << 32) | std::uint64_t{data.nFileSizeLow});
      } while (::FindNextFileW(find.Get(), &data));
    }
    PROCESS_MEMORY_COUNTERS counters{};
    if (::GetProcessMemoryInfo(process, &counters, sizeof(counters)))
      peakWorkingSet = std::max(peakWorkingSet, counters.PeakWorkingSetSize);
  }
};

struct FloodCase {
  const char* name;
  const wchar_t* kind;
};

void PrintTo(const FloodCase& c, std::ostream* out) { *out << c.name; }

class HostileManager : public ManagerFreeTestWithParam<FloodCase> {};

TEST_P(HostileManager, ReadsTheMessageThenFloodsTheClientToNoAvail) {
  StandInManager manager(journal_, {{L"ZYP_QM_FLOOD", GetParam().kind}, {L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  // A temporary folder of the program's own: test programs beside this
  // one make files of the same kind in the shared one.
  const zyp::testing::ScratchFolder temp(L"temp");
  ChildProcess program(kProgramExe, kAddress, {journal_.Variable(), {L"TMP", temp.Path()}, {L"TEMP", temp.Path()}});
  ASSERT_TRUE(program.Started());
  Watch watch{temp.Path()};
  const auto deadline = std::chrono::steady_clock::now() + kRunBound + 10s;
  while (program.Running() && std::chrono::steady_clock::now() < deadline) {
    watch.Look(program.Process());
    ::Sleep(20);
  }
  watch.Look(program.Process());
  const RunResult run = program.Wait(0ms);
  ASSERT_TRUE(run.finished) << "still running after " << (kRunBound + 10s).count() << " ms";
  RecordProperty("elapsed_ms", static_cast<int>(run.elapsed.count()));
  RecordProperty("peak_working_set_kb", static_cast<int>(watch.peakWorkingSet / 1024));
  RecordProperty("largest_temp_file_kb", static_cast<int>(watch.largestTempFile / 1024));
  EXPECT_LE(run.elapsed, kRunBound);
  // The manager read the message before it turned: delivered.
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(watch.tempFileSeen) << "a temporary file of " << watch.largestTempFile << " bytes";
  EXPECT_LT(watch.peakWorkingSet, SIZE_T{64} * 1024 * 1024);

  manager.Stop();
  const auto messages = journal_.Events("message", manager.Id());
  ASSERT_EQ(messages.size(), 1u) << journal_.Text().substr(0, 4000);
  EXPECT_TRUE(messages[0]["bytes_hex"].AsText() == HexBytes(kMessage));
  EXPECT_FALSE(journal_.Events("flood", manager.Id()).empty()) << "the manager never turned";
}

const FloodCase kFloods[] = {
    {"small_messages_without_pause", L"messages"},
    {"a_start_packet_then_pieces_without_end", L"pieces"},
    {"one_message_of_256_MiB", L"huge"},
};

INSTANTIATE_TEST_SUITE_P(Floods, HostileManager, ::testing::ValuesIn(kFloods),
                         [](const auto& info) { return std::string(info.param.name); });

// Every message number the pipe client and its thread calls use, to every
// window of the program, with parameters that are zero, small, and look like
// addresses and handles.
void PostEveryNotice(DWORD pid) {
  static constexpr UINT kNumbers[] = {1124, 1125, 1126, 1127, 1128, 1129, 1130, 1224, 1324, 0x8FFC, 0x8FFD};
  static constexpr std::pair<WPARAM, LPARAM> kParameters[] = {
      {0, 0}, {1, 1}, {0x10000, 0x10000}, {~WPARAM{0}, ~LPARAM{0}}, {0x7FF7'0000'1000, 0x0000'7FF0'0000'0040}};
  for (HWND window : TopLevelWindows(pid))
    for (UINT number : kNumbers)
      for (const auto& [wParam, lParam] : kParameters) ::PostMessageW(window, number, wParam, lParam);
}

struct ForgeryCase {
  const char* name;
  Environment knobs;
  DWORD exitCode;
};

void PrintTo(const ForgeryCase& c, std::ostream* out) { *out << c.name; }

class ForgedNotices : public ManagerFreeTestWithParam<ForgeryCase> {};

TEST_P(ForgedNotices, ChangeNothing) {
  const ForgeryCase& c = GetParam();
  Environment knobs = c.knobs;
  knobs.emplace_back(L"ZYP_QM_IDLE_MS", L"60000");
  StandInManager manager(journal_, knobs);
  ASSERT_TRUE(manager.WaitReady());
  ChildProcess program(kProgramExe, kAddress, {journal_.Variable()});
  ASSERT_TRUE(program.Started());

  std::atomic<bool> stop{false};
  std::atomic<bool> boxSeen{false};
  std::thread attacker([&] {
    while (!stop.load()) {
      PostEveryNotice(program.Id());
      if (const auto dialog = FindDialog(program.Id())) {
        boxSeen = true;
        PressOk(*dialog);
      }
      // One round every 20 ms: enough to meet every moment of the run,
      // without drowning the program's queue (which any program on the
      // desktop could do to any other).
      ::Sleep(20);
    }
  });
  const RunResult run = program.Wait(kRunBound + 10s);
  stop = true;
  attacker.join();

  ASSERT_TRUE(run.finished) << "still running after " << run.elapsed.count() << " ms";
  EXPECT_LE(run.elapsed, kRunBound);
  EXPECT_FALSE(boxSeen.load()) << "an error box was shown";
  EXPECT_EQ(run.exitCode, c.exitCode);
  manager.Stop();
  const auto messages = journal_.Events("message", manager.Id());
  if (c.exitCode == 0) {
    ASSERT_EQ(messages.size(), 1u) << journal_.Text().substr(0, 4000);
    EXPECT_TRUE(messages[0]["bytes_hex"].AsText() == HexBytes(kMessage));
  } else {
    EXPECT_TRUE(messages.empty()) << journal_.Text().substr(0, 4000);
  }
}

const ForgeryCase kForgeries[] = {
    // The whole message stays in the pipe, unread: handed over, not lost.
    {"manager_never_reads", {{L"ZYP_QM_NO_READ", L"1"}}, 3},
    {"manager_reads", {}, 0},
};

INSTANTIATE_TEST_SUITE_P(Attacks, ForgedNotices, ::testing::ValuesIn(kForgeries),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zyp::e2e
