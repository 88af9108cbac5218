#pragma once
// End-to-end test harness: runs the real programs from the test's own folder
// (where the build puts the program, its companions and the tests), watches
// their windows, drives the stand-in queue manager and reads its journal.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/scoped_handle.h"
#include "tests/e2e/json_lines.h"
#include "tests/support/scratch_files.h"
#include "tests/support/settings_key_snapshot.h"
#include "tests/support/wait.h"

namespace zyp::e2e {

using namespace std::chrono_literals;
using Milliseconds = std::chrono::milliseconds;

// How long the program may take: the closing pause, the connection wait and
// the close; Wine adds a moment to start and end a process, and a run is
// timed from CreateProcessW to the end of the process.
inline constexpr Milliseconds kPause = 1000ms;
inline constexpr Milliseconds kConnectionWait = 3000ms;
inline constexpr Milliseconds kCloseBound = 2000ms;
inline constexpr Milliseconds kProcessSlack = 1000ms;
inline constexpr Milliseconds kRunBound = kPause + kConnectionWait + kCloseBound + kProcessSlack;
// The longest command line CreateProcessW takes, its terminating zero included.
inline constexpr std::size_t kCommandLineLimit = 32767;

// Variables added to (or replacing those of) the test's own environment.
using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

// The folder of the running test program, with its trailing "\".
std::wstring BinFolder();

// A test's size from the environment variable, so that a benchmark runs the
// same test at full size; the fallback when the variable is missing or not a
// positive number.
std::size_t SizeFromEnvironment(const wchar_t* name, std::size_t fallback);

struct RunResult {
  bool finished = false;  // ended by itself within the time-out
  DWORD exitCode = 0;
  Milliseconds elapsed{};    // from the start until the end was seen
  bool windowShown = false;  // a visible top-level window was seen while it ran
};

// Standard handles for a child program: ends of pipes that it inherits.
struct StandardHandles {
  HANDLE input = nullptr;
  HANDLE output = nullptr;
};

// A program from BinFolder() (or a full path, when the name holds a "\"),
// started as "<folder>\<program>" followed by a blank and the raw argument
// text, exactly as given, with the show command (STARTF_USESHOWWINDOW) when
// one is given, inside the job object when one is given (it runs only once it
// is in the job), with the standard handles when they are given, in the
// working folder when one is given (else in BinFolder()). A process that
// still runs when its owner goes is ended.
class ChildProcess {
 public:
  ChildProcess(const std::wstring& program, const std::wstring& arguments, const Environment& extra = {},
               std::optional<WORD> showCommand = std::nullopt, HANDLE job = nullptr,
               const StandardHandles* handles = nullptr, const std::wstring& workingFolder = {});
  ~ChildProcess();
  ChildProcess(ChildProcess&&) = default;
  ChildProcess& operator=(ChildProcess&&) = default;

  bool Started() const { return process_.Valid(); }
  DWORD Id() const { return id_; }
  HANDLE Process() const { return process_.Get(); }
  bool Running() const;
  // Waits for the end while looking for visible windows every few
  // milliseconds; a process that outlasts the time-out keeps running.
  RunResult Wait(Milliseconds timeout);
  void Kill();

 private:
  win32::UniqueHandle process_;
  DWORD id_ = 0;
  std::chrono::steady_clock::time_point started_;
  std::size_t record_ = 0;  // its entry in the run report
};

// One command-line argument in double quotes, for one that holds no quote.
std::wstring Quoted(const std::wstring& text);

// Starts a program and waits for it; one that outlasts the time-out is ended.
RunResult RunProgram(const std::wstring& program, const std::wstring& arguments, const Environment& extra = {},
                     Milliseconds timeout = 10s);

// RunProgram with a file of its own in the temporary folder as the program's
// standard output; output holds what it wrote there.
struct OutputRun {
  RunResult result;
  std::string output;
};
OutputRun RunProgramWithOutput(const std::wstring& program, const std::wstring& arguments, Milliseconds timeout = 10s);

// What the current test has run so far: each program's command line and how
// it ended, and the last lines of every journal still open. A test that fails
// prints it by itself at its first failure.
std::string RunReport();

using zyp::testing::TempFolder;
using zyp::testing::WaitUntil;

// A journal file of its own in the temporary folder, removed afterwards.
class Journal {
 public:
  Journal();
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // The variable that points the companions at this journal.
  std::pair<std::wstring, std::wstring> Variable() const { return {L"ZYP_JOURNAL", path_}; }
  // Every complete line so far; a line that is not JSON fails the test.
  std::vector<JsonValue> Entries() const;
  // Entries of one event, optionally only from one process id and only from
  // the entry at position from on.
  std::vector<JsonValue> Events(std::string_view event, DWORD pid = 0, std::size_t from = 0) const;
  // Waits until an entry of the event that passes the filter exists.
  std::optional<JsonValue> WaitFor(std::string_view event, Milliseconds timeout,
                                   const std::function<bool(const JsonValue&)>& filter = {}) const;
  // The raw content, for failure messages.
  std::string Text() const;
  // Where it is, in UTF-8.
  std::string Path() const;

 private:
  std::wstring path_;
};

// The stand-in queue manager, started with the journal and the given knobs
// (ZYP_QM_...) and argument text. It is closed when its owner goes.
class StandInManager {
 public:
  StandInManager(const Journal& journal, const Environment& knobs = {}, const std::wstring& arguments = L"");
  ~StandInManager();

  DWORD Id() const { return process_.Id(); }
  // Waits for its "ready" entry: window and (unless switched off) pipe up.
  bool WaitReady(Milliseconds timeout = 10s);
  // Closes its window and waits for it to end.
  void Stop();

 private:
  const Journal& journal_;
  // Entries written before this stand-in started: none of them is its own,
  // even when they carry its process id (the system reuses ids).
  std::size_t firstEntry_;
  ChildProcess process_;
};

// The top-level window of class "TfrmZYPQueueManager", or null.
HWND FindManagerWindow();
// Closes every running queue manager (WM_CLOSE to its window) and waits
// until its process has ended; true when none is left.
bool CloseRunningManagers(Milliseconds timeout = 10s);

// A test that finds no queue manager running and leaves none behind, with a
// journal of its own for the companions it starts.
class ManagerFreeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CloseRunningManagers()) << "a queue manager from elsewhere is running"; }
  void TearDown() override { CloseRunningManagers(); }

  Journal journal_;
};

template <typename Case>
class ManagerFreeTestWithParam : public ManagerFreeTest, public ::testing::WithParamInterface<Case> {};

// Top-level windows that belong to a process.
std::vector<HWND> TopLevelWindows(DWORD pid);
bool AnyVisibleWindow(DWORD pid);
std::wstring WindowClass(HWND window);
std::wstring WindowText(HWND window);

// A visible dialog box (class "#32770") of a process, such as a message box.
struct Dialog {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;  // the texts of its static controls, joined by line breaks
};
std::optional<Dialog> FindDialog(DWORD pid);
std::optional<Dialog> WaitForDialog(DWORD pid, Milliseconds timeout);
// Presses the dialog's OK button.
bool PressOk(const Dialog& dialog);

// A plain pipe client that writes whole pipe messages as it is told, for
// checking what a server makes of exact byte sequences.
class RawPipeClient {
 public:
  // Opens \\.\pipe\<name> in message read mode, waiting while all instances
  // are busy; false (with LastError) when it cannot.
  bool Connect(const std::wstring& name, Milliseconds timeout);
  // One WriteFile: the bytes arrive as one pipe message.
  bool WriteMessage(std::span<const std::uint8_t> bytes);
  bool WriteMessage(std::string_view bytes);
  // Returns once the server has read everything written.
  bool Flush();
  // The next whole message from the server; nothing when none came in time
  // or the pipe failed.
  std::optional<std::string> ReadMessage(Milliseconds timeout);
  void Close() { pipe_.Reset(); }
  DWORD LastError() const { return lastError_; }

 private:
  win32::UniqueHandle pipe_;
  DWORD lastError_ = ERROR_SUCCESS;
};

bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// The text in UTF-8, as the system converts it.
std::string Utf8(std::wstring_view text);
// The bytes as lower-case hex digits, as the stand-in journals them.
std::u16string HexBytes(std::span<const std::uint8_t> bytes);
std::u16string HexBytes(std::string_view bytes);
// The whole content of a file; empty when it cannot be read.
std::string FileBytes(const std::wstring& path);
// The program's cookie folder in the temporary folder, with its trailing "\".
std::wstring CookieFolder();

// A request file in the temporary folder, with its byte-order mark and CR LF
// breaks, removed when the test ends if the program left it. UTF-16 carries
// what UTF-8 cannot, such as unpaired surrogates.
enum class FileEncoding { Utf8, Utf16LE };

class RequestFile : public zyp::testing::ScratchFile {
 public:
  RequestFile(std::wstring_view name, const std::vector<std::wstring>& lines,
              FileEncoding encoding = FileEncoding::Utf8);
  // The file holds exactly these bytes.
  using ScratchFile::ScratchFile;
};

using zyp::testing::SettingsKeySnapshot;

inline constexpr wchar_t kProgramExe[] = L"ZYPQueueAddURL.exe";
inline constexpr wchar_t kManagerExe[] = L"ZYPQueueManager.exe";
inline constexpr wchar_t kLinkExplorerExe[] = L"ZYPLinkExplorer.exe";
inline constexpr wchar_t kManagerPipe[] = L"ZYPQueueURLPipeServer";

}  // namespace zyp::e2e
