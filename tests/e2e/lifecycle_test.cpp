// The program's life as a process: nothing ever shows in a normal run, an
// error that stops the work is shown once and then ends the run with exit
// code 1, and whatever the queue manager does, the run ends by itself within
// the pause, the connection wait and the close.
#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

constexpr Milliseconds kPause = 1000ms;
constexpr Milliseconds kConnectionWait = 3000ms;
constexpr Milliseconds kCloseBound = 2000ms;
// Wine takes a moment to start a process and to end it; a run is timed from
// CreateProcessW to the end of the process.
constexpr Milliseconds kProcessSlack = 1000ms;

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CloseRunningManagers()) << "a queue manager from elsewhere is running"; }
  void TearDown() override { CloseRunningManagers(); }

  Journal journal_;
};

struct ShowCase {
  const char* name;
  std::optional<WORD> showCommand;
};

TEST_F(LifecycleTest, NormalRunShowsNothingWhateverTheShowCommand) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  const ShowCase cases[] = {
      {"default", std::nullopt},
      {"maximised", static_cast<WORD>(SW_SHOWMAXIMIZED)},
      {"minimised", static_cast<WORD>(SW_SHOWMINIMIZED)},
      {"normal", static_cast<WORD>(SW_SHOWNORMAL)},
  };
  for (const ShowCase& c : cases) {
    SCOPED_TRACE(c.name);
    ChildProcess program(kProgramExe, L"http://example.com/file.zip", {journal_.Variable()}, c.showCommand);
    const RunResult run = program.Wait(15s);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(run.windowShown) << "a visible top-level window of the program was seen";
  }
  manager.Stop();
  EXPECT_EQ(journal_.Events("message").size(), std::size(cases)) << journal_.Text();
}

// The system's text for an error code as the error box shows it: without its
// line break, and with "." appended unless it already ends in "." or in a
// character below it.
std::wstring ErrorBoxText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer, length);
  ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  if (!text.empty() && text.back() > L'.') text += L'.';
  return text;
}

TEST_F(LifecycleTest, ErrorThatStopsTheWorkIsShownOnceAndEndsTheRun) {
  RequestFile file(L"held.txt", {L"ZYP Parameter File", L"http://example.com/held"});
  // Held without read sharing: the program cannot open it.
  const win32::UniqueHandle held(::CreateFileW(file.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);

  ChildProcess program(kProgramExe, L"\"" + file.Path() + L"\"", {journal_.Variable()});
  const auto dialog = WaitForDialog(program.Id(), 15s);
  ASSERT_TRUE(dialog.has_value()) << "no error box";
  std::size_t boxes = 0;
  for (HWND window : TopLevelWindows(program.Id()))
    if (WindowClass(window) == L"#32770" && ::IsWindowVisible(window)) ++boxes;
  EXPECT_EQ(boxes, 1u);
  // The executable's name with every character after the first lowered.
  EXPECT_EQ(dialog->caption, L"Zypqueueaddurl");
  EXPECT_EQ(dialog->text, ErrorBoxText(ERROR_SHARING_VIOLATION));

  ASSERT_TRUE(PressOk(*dialog));
  const RunResult run = program.Wait(10s);
  ASSERT_TRUE(run.finished) << "the run ends once the box is closed";
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_TRUE(FileExists(file.Path())) << "an unread parameter file is not deleted";
  EXPECT_TRUE(journal_.Events("start").empty()) << "nothing was started\n" << journal_.Text();
}

struct BoundCase {
  const char* name;
  Environment knobs;
  bool longMessage;  // longer than one pipe write: start packet, pieces, end packet
  std::optional<DWORD> exitCode;
};

void PrintTo(const BoundCase& c, std::ostream* out) { *out << c.name; }

class BoundedRun : public LifecycleTest, public ::testing::WithParamInterface<BoundCase> {};

TEST_P(BoundedRun, EndsWithinTheBoundAndTellsWhetherItDelivered) {
  const BoundCase& c = GetParam();
  Environment knobs = c.knobs;
  knobs.emplace_back(L"ZYP_QM_IDLE_MS", L"60000");
  StandInManager manager(journal_, knobs);
  ASSERT_TRUE(manager.WaitReady());

  std::wstring title = L"A page";
  if (c.longMessage) title = std::wstring(100000, L'x');
  RequestFile file(L"bound.txt", {L"ZYP Parameter File", L"http://example.com/bound", L"pagetitle=" + title});
  const Milliseconds bound = kPause + kConnectionWait + kCloseBound + kProcessSlack;
  const RunResult run = RunProgram(kProgramExe, L"\"" + file.Path() + L"\"", {journal_.Variable()}, bound + 10s);
  RecordProperty("elapsed_ms", static_cast<int>(run.elapsed.count()));
  ASSERT_TRUE(run.finished);
  EXPECT_LE(run.elapsed, bound);
  EXPECT_FALSE(run.windowShown);
  manager.Stop();
  if (c.exitCode) {
    EXPECT_EQ(run.exitCode, *c.exitCode);
    EXPECT_EQ(journal_.Events("message").size(), *c.exitCode == 0 ? 1u : 0u) << journal_.Text().substr(0, 4000);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Managers, BoundedRun,
    ::testing::Values(BoundCase{"normal", {}, false, 0}, BoundCase{"no_pipe", {{L"ZYP_QM_NO_PIPE", L"1"}}, false, 2},
                      BoundCase{"busy", {{L"ZYP_QM_BUSY", L"1"}}, false, 2},
                      BoundCase{"never_reads", {{L"ZYP_QM_NO_READ", L"1"}}, false, 2},
                      // The exit code of this case is checked below.
                      BoundCase{"closes_mid_write", {{L"ZYP_QM_CLOSE_AFTER", L"2"}}, true, std::nullopt}),
    [](const ::testing::TestParamInfo<BoundCase>& info) { return std::string(info.param.name); });

// The server reads the start packet and the first piece, then closes: a
// confirmed piece is not a delivered message.
TEST_F(LifecycleTest, ServerClosingMidMessageIsNotDelivery) {
  StandInManager manager(journal_, {{L"ZYP_QM_CLOSE_AFTER", L"2"}, {L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  RequestFile file(L"cut.txt",
                   {L"ZYP Parameter File", L"http://example.com/cut", L"pagetitle=" + std::wstring(100000, L'x')});
  const RunResult run = RunProgram(kProgramExe, L"\"" + file.Path() + L"\"", {journal_.Variable()}, 20s);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 2u);
}

}  // namespace
}  // namespace zyp::e2e
