// The harness must see what it claims to see, or the checks that rely on it
// ("no window was shown") pass for the wrong reason.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

namespace zyp::e2e {
namespace {

TEST(Harness, FindsReadsAndAnswersAMessageBox) {
  ChildProcess child(L"e2e_message_box.exe", L"");
  ASSERT_TRUE(child.Started());
  const auto dialog = WaitForDialog(child.Id(), 10s);
  ASSERT_TRUE(dialog.has_value());
  // The box is up and waits for its answer: a wait sees its window and no end.
  const RunResult shown = child.Wait(200ms);
  EXPECT_FALSE(shown.finished);
  EXPECT_TRUE(shown.windowShown);
  EXPECT_EQ(dialog->caption, L"E2eMessageBox");
  EXPECT_EQ(dialog->text, L"Something went wrong.");
  ASSERT_TRUE(PressOk(*dialog));
  const RunResult run = child.Wait(10s);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(IDOK));
}

TEST(Harness, PassesArgumentsAndEnvironmentUnchanged) {
  Journal journal;
  const std::wstring arguments = L"\"a b\"c  \"\" d\\\"e";
  const RunResult run = RunProgram(kLinkExplorerExe, arguments, {journal.Variable()});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(run.windowShown);
  const auto starts = journal.Events("start");
  ASSERT_EQ(starts.size(), 1u) << journal.Text();
  const std::wstring folder = BinFolder();
  const std::u16string expected = u"\"" + std::u16string(folder.begin(), folder.end()) + u"ZYPLinkExplorer.exe\" " +
                                  std::u16string(arguments.begin(), arguments.end());
  EXPECT_EQ(starts[0]["command_line"].AsText(), expected);
  // The program's own splitting rule: no escape character, "" between
  // arguments skipped, quoted stretches joined.
  EXPECT_EQ(starts[0]["args"].AsTexts(), (std::vector<std::u16string>{u"a bc", u"d\\e"}));
}

// What a failing test prints about its run: the command lines, how each
// program ended, and the journal.
TEST(Harness, ReportsProgramsOutcomesAndJournalLines) {
  Journal journal;
  const RunResult run = RunProgram(kLinkExplorerExe, L"\"x y\" z", {journal.Variable()});
  ASSERT_TRUE(run.finished);
  ChildProcess box(L"e2e_message_box.exe", L"");
  ASSERT_TRUE(box.Started());
  EXPECT_FALSE(box.Wait(0ms).finished);
  const std::string whileRunning = RunReport();
  box.Kill();
  const std::string report = RunReport();

  const std::string folder = Utf8(BinFolder());
  const auto has = [](const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  };
  EXPECT_TRUE(has(report, "Programs this test ran (2)")) << report;
  EXPECT_TRUE(has(report, "\"" + folder + "ZYPLinkExplorer.exe\" \"x y\" z\n    -> process ")) << report;
  EXPECT_TRUE(has(report, "ended with exit code 0 (0x0) after ")) << report;
  EXPECT_TRUE(has(whileRunning, "still running after ")) << whileRunning;
  EXPECT_TRUE(has(report, "\"" + folder + "e2e_message_box.exe\"\n    -> process " + std::to_string(box.Id()) +
                              " ended by the test"))
      << report;
  const std::string text = journal.Text();
  ASSERT_FALSE(text.empty());
  EXPECT_TRUE(has(report, "Journal " + journal.Path() + " (1 lines):\n  " + text.substr(0, text.find('\n')) + "\n"))
      << report;
}

}  // namespace
}  // namespace zyp::e2e
