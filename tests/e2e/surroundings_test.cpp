// The program where browser integrations really run it: inside the
// browser's job object, beside programs that hold its parameter file for a
// moment, and with an error box that waits for the user.
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

// A job that kills what is left in it when its last handle closes, as
// browsers make for the helpers they start.
win32::UniqueHandle KillOnCloseJob(bool allowBreakaway) {
  win32::UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | (allowBreakaway ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0);
  if (job && !::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
    job.Reset();
  return job;
}

class Surroundings : public ManagerFreeTest {};

TEST_F(Surroundings, ManagerStartedInsideABrowsersJobOutlivesItWhenTheJobAllowsBreakaway) {
  const struct {
    const char* name;
    bool allowBreakaway;
  } cases[] = {{"job allows breakaway", true}, {"job forbids breakaway", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(CloseRunningManagers());
    win32::UniqueHandle job = KillOnCloseJob(c.allowBreakaway);
    ASSERT_TRUE(job) << "no job object: " << ::GetLastError();
    const std::size_t startsBefore = journal_.Events("start").size();
    ChildProcess program(kProgramExe, L"http://job.example.com/file.zip",
                         {journal_.Variable(), {L"ZYP_QM_IDLE_MS", L"60000"}}, std::nullopt, job.Get());
    ASSERT_TRUE(program.Started());
    const RunResult run = program.Wait(kRunBound + 5s);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_TRUE(WaitUntil([&] { return journal_.Events("start").size() > startsBefore; }, 10s)) << journal_.Text();
    const JsonValue start = journal_.Events("start").back();
    ASSERT_TRUE(start["process"].AsText() == u"ZYPQueueManager") << journal_.Text();
    // The same command line as through the shell.
    EXPECT_TRUE(start["command_line"].AsText().ends_with(u"ZYPQueueManager.exe\" \"http://job.example.com/file.zip\""))
        << journal_.Text();
    const DWORD managerId = static_cast<DWORD>(start["pid"].AsInt());
    const win32::UniqueHandle manager(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, managerId));
    ASSERT_TRUE(manager) << "the manager ended early";
    BOOL inJob = FALSE;
    ASSERT_TRUE(::IsProcessInJob(manager.Get(), job.Get(), &inJob)) << ::GetLastError();
    EXPECT_EQ(inJob != FALSE, !c.allowBreakaway);

    job.Reset();  // the browser closes, and its job with it
    if (c.allowBreakaway) {
      // Still there and still taking work.
      const RunResult second = RunProgram(kProgramExe, L"http://job.example.com/second", {journal_.Variable()});
      EXPECT_EQ(second.exitCode, 0u);
      const auto messages = journal_.Events("message", managerId);
      ASSERT_EQ(messages.size(), 1u) << journal_.Text();
      EXPECT_TRUE(messages[0]["bytes_hex"].AsText() == HexBytes("ADDURL:http://job.example.com/second"));
    } else {
      EXPECT_EQ(::WaitForSingleObject(manager.Get(), 10000), WAIT_OBJECT_0) << "a manager inside the job ends with it";
    }
  }
}

// A file that another program holds without read sharing, released while
// the program waits for it, and one held for good.
TEST_F(Surroundings, ParameterFileHeldForAMomentIsReadAndOneHeldForGoodShowsTheBoxAfterASecond) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());

  RequestFile moment(L"held-moment.txt",
                     std::vector<std::wstring>{L"ZYP Parameter File", L"http://held.example.com/a"});
  win32::UniqueHandle holder(::CreateFileW(moment.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);
  ChildProcess first(kProgramExe, Quoted(moment.Path()), {journal_.Variable()});
  ASSERT_TRUE(first.Started());
  // A scanner's look takes a moment; the program is meanwhile trying again.
  std::this_thread::sleep_for(300ms);
  holder.Reset();
  const RunResult run = first.Wait(kRunBound + 5s);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(run.windowShown) << "no error box";
  EXPECT_FALSE(FileExists(moment.Path())) << "read and deleted";
  ASSERT_TRUE(journal_.WaitFor("message", 5s));

  RequestFile good(L"held-good.txt", std::vector<std::wstring>{L"ZYP Parameter File", L"http://held.example.com/b"});
  // Declared after the file, so it lets go before the file is taken away.
  const win32::UniqueHandle goodHolder(::CreateFileW(good.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(goodHolder);
  ChildProcess second(kProgramExe, Quoted(good.Path()), {journal_.Variable()});
  const auto started = std::chrono::steady_clock::now();
  const auto dialog = WaitForDialog(second.Id(), 15s);
  ASSERT_TRUE(dialog.has_value()) << "no error box";
  EXPECT_GE(std::chrono::steady_clock::now() - started, 1000ms) << "tried again for a second first";
  EXPECT_EQ(dialog->caption, L"Zypqueueaddurl");
  // Wine leaves out MB_TOPMOST's style: tests/shell/error_box_win_test.cpp
  // checks what the program asks of the system.
  ASSERT_TRUE(PressOk(*dialog));
  const RunResult boxed = second.Wait(10s);
  ASSERT_TRUE(boxed.finished);
  EXPECT_EQ(boxed.exitCode, 1u);
  EXPECT_TRUE(FileExists(good.Path())) << "an unread file is kept";
  manager.Stop();
  EXPECT_EQ(journal_.Events("message", manager.Id()).size(), 1u) << journal_.Text();
}

TEST(Manifest, DeclaresPerMonitorV2BeforePerMonitor) {
  const std::wstring path = BinFolder() + kProgramExe;
  const HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  const HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_NE(resource, nullptr);
  const auto* data = static_cast<const char*>(::LockResource(::LoadResource(module, resource)));
  const std::string manifest(data, ::SizeofResource(module, resource));
  ::FreeLibrary(module);
  EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos) << manifest;
}

}  // namespace
}  // namespace zyp::e2e
