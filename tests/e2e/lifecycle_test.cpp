// The program's life as a process: nothing ever shows in a normal run, and
// an error that stops the work is shown once and then ends the run with exit
// code 1. How runs end against misbehaving queue managers is in the fault
// table.
#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

class LifecycleTest : public ManagerFreeTest {};

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

}  // namespace
}  // namespace zyp::e2e
