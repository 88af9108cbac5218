// The harness must see what it claims to see, or the checks that rely on it
// ("no window was shown") pass for the wrong reason.
#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

namespace zyp::e2e {
namespace {

TEST(Harness, FindsReadsAndAnswersAMessageBox) {
  ChildProcess child(L"e2e_message_box.exe", L"");
  ASSERT_TRUE(child.Started());
  const RunResult shown = child.Wait(500ms);
  EXPECT_FALSE(shown.finished);
  EXPECT_TRUE(shown.windowShown);
  const auto dialog = WaitForDialog(child.Id(), 10s);
  ASSERT_TRUE(dialog.has_value());
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

}  // namespace
}  // namespace zyp::e2e
