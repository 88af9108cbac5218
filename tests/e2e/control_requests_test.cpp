// START and STOP, run as the real program beside the stand-in queue manager:
// a running manager gets the control message, an absent one is started with
// the word; either way the program ends at once, with exit code 0 and
// without ever showing a window.
#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

struct ControlCase {
  const wchar_t* word;
  std::int64_t lParam;
};

void PrintTo(const ControlCase& c, std::ostream* out) {
  const std::wstring word = c.word;
  *out << std::string(word.begin(), word.end()) << " -> lParam " << c.lParam;
}

// Without the closing pause a control request ends well within this; with
// it, never.
constexpr Milliseconds kNoPause = 1000ms;

class ControlRequest : public ManagerFreeTestWithParam<ControlCase> {
 protected:
  RunResult RunControlRequest() {
    const RunResult run = RunProgram(kProgramExe, GetParam().word, {journal_.Variable()});
    RecordProperty("elapsed_ms", static_cast<int>(run.elapsed.count()));
    return run;
  }
};

TEST_P(ControlRequest, RunningManagerGetsTheControlMessageAndNothingOnThePipe) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());

  const RunResult run = RunControlRequest();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(run.windowShown);
  EXPECT_LT(run.elapsed, kNoPause);

  ASSERT_TRUE(journal_.WaitFor("progress", 5s)) << journal_.Text();
  manager.Stop();  // the journal is complete once the manager has ended
  const auto progress = journal_.Events("progress", manager.Id());
  ASSERT_EQ(progress.size(), 1u) << journal_.Text();
  EXPECT_EQ(progress[0]["wparam"].AsInt(), 101);
  EXPECT_EQ(progress[0]["lparam"].AsInt(), GetParam().lParam);
  EXPECT_TRUE(journal_.Events("connect").empty()) << journal_.Text();
  EXPECT_EQ(journal_.Events("start").size(), 1u) << "no second manager was started\n" << journal_.Text();
}

TEST_P(ControlRequest, AbsentManagerIsStartedWithTheWordAsTyped) {
  const RunResult run = RunControlRequest();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(run.windowShown);
  EXPECT_LT(run.elapsed, kNoPause);

  const auto start = journal_.WaitFor(
      "start", 10s, [](const JsonValue& entry) { return entry["process"].AsText() == u"ZYPQueueManager"; });
  ASSERT_TRUE(start.has_value()) << journal_.Text();
  const std::wstring word = GetParam().word;
  EXPECT_EQ((*start)["args"].AsTexts(), std::vector<std::u16string>{std::u16string(word.begin(), word.end())});
  // Started from the program's own folder, the word unquoted.
  const std::wstring folder = BinFolder();
  const std::u16string commandLine = (*start)["command_line"].AsText();
  EXPECT_EQ(commandLine, u"\"" + std::u16string(folder.begin(), folder.end()) + u"ZYPQueueManager.exe\" " +
                             std::u16string(word.begin(), word.end()));
  EXPECT_TRUE(journal_.Events("progress").empty()) << journal_.Text();
  // Closed once its window exists, rather than left to run until idle.
  const auto pid = (*start)["pid"].AsInt();
  EXPECT_TRUE(journal_.WaitFor("ready", 10s, [pid](const JsonValue& entry) { return entry["pid"].AsInt() == pid; }));
}

INSTANTIATE_TEST_SUITE_P(Words, ControlRequest,
                         ::testing::Values(ControlCase{L"START", 1}, ControlCase{L"stop", 0}, ControlCase{L"Stop", 0}),
                         [](const ::testing::TestParamInfo<ControlCase>& info) {
                           const std::wstring word = info.param.word;
                           return std::string(word.begin(), word.end());
                         });

}  // namespace
}  // namespace zyp::e2e
