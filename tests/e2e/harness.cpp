#include "tests/e2e/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>

namespace zyp::e2e {

namespace {

constexpr wchar_t kManagerClass[] = L"TfrmZYPQueueManager";
constexpr Milliseconds kPollInterval = 5ms;

bool SameName(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// The test's environment with the extra variables put in place of any of
// the same name, as a block for CreateProcessW.
std::wstring EnvironmentBlock(const Environment& extra) {
  std::wstring block;
  if (wchar_t* strings = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
      const std::wstring_view text(entry);
      // Entries such as "=C:=C:\" start with "=": their name runs to the next one.
      const std::wstring_view name = text.substr(0, text.find(L'=', 1));
      bool replaced = false;
      for (const auto& variable : extra) replaced = replaced || SameName(name, variable.first);
      if (!replaced) block.append(text).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(strings);
  }
  for (const auto& [name, value] : extra) block.append(name).append(L"=").append(value).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

std::string ReadWholeFile(const std::wstring& path) {
  const win32::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string content;
  if (!file) return content;
  char buffer[65536];
  DWORD read = 0;
  while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read != 0) content.append(buffer, read);
  return content;
}

// The programs and journals of the running test, for its failure message.
class RunLog final : public ::testing::EmptyTestEventListener {
 public:
  static RunLog& Instance() {
    // gtest owns its listeners and deletes them at exit.
    static RunLog* const log = [] {
      auto* created = new RunLog;
      ::testing::UnitTest::GetInstance()->listeners().Append(created);
      return created;
    }();
    return *log;
  }

  std::size_t AddProgram(std::string commandLine) {
    const std::lock_guard lock(mutex_);
    programs_.push_back({std::move(commandLine), "not waited for"});
    return generation_ + programs_.size() - 1;
  }
  void SetOutcome(std::size_t record, std::string outcome) {
    const std::lock_guard lock(mutex_);
    if (record >= generation_ && record - generation_ < programs_.size())
      programs_[record - generation_].outcome = std::move(outcome);
  }
  void AddJournal(const Journal* journal) {
    const std::lock_guard lock(mutex_);
    journals_.push_back(journal);
  }
  void RemoveJournal(const Journal* journal) {
    const std::lock_guard lock(mutex_);
    std::erase(journals_, journal);
  }

  std::string Report() {
    const std::lock_guard lock(mutex_);
    // The load tests run hundreds of programs: the last ones tell most.
    constexpr std::size_t kShownPrograms = 20;
    constexpr std::size_t kShownLines = 40;
    constexpr std::size_t kShownLineLength = 400;
    std::string report = "Programs this test ran (" + std::to_string(programs_.size()) + "):\n";
    const std::size_t firstShown = programs_.size() > kShownPrograms ? programs_.size() - kShownPrograms : 0;
    if (firstShown != 0) report += "  ... " + std::to_string(firstShown) + " earlier ones left out\n";
    for (std::size_t i = firstShown; i < programs_.size(); ++i)
      report +=
          "  " + programs_[i].commandLine.substr(0, 2 * kShownLineLength) + "\n    -> " + programs_[i].outcome + "\n";
    for (const Journal* journal : journals_) {
      std::vector<std::string> lines;
      const std::string text = journal->Text();
      for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, std::min(end - start, kShownLineLength)));
        start = end + 1;
      }
      report += "Journal " + journal->Path() + " (" + std::to_string(lines.size()) + " lines";
      const std::size_t firstLine = lines.size() > kShownLines ? lines.size() - kShownLines : 0;
      report += firstLine != 0 ? ", the last " + std::to_string(kShownLines) + "):\n" : "):\n";
      for (std::size_t i = firstLine; i < lines.size(); ++i) report += "  " + lines[i] + "\n";
    }
    return report;
  }

 private:
  struct Program {
    std::string commandLine;
    std::string outcome;
  };

  void OnTestStart(const ::testing::TestInfo&) override {
    const std::lock_guard lock(mutex_);
    // Programs of an earlier test that still report find no entry of this one.
    generation_ += programs_.size() + 1;
    programs_.clear();
    reported_ = false;
  }
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (!result.failed()) return;
    {
      const std::lock_guard lock(mutex_);
      if (std::exchange(reported_, true)) return;
    }
    // At the first failure, while the test's journals are still there.
    std::printf("%s", Report().c_str());
    std::fflush(stdout);
  }

  std::mutex mutex_;
  std::vector<Program> programs_;
  std::size_t generation_ = 0;
  std::vector<const Journal*> journals_;
  bool reported_ = false;
};

// Registered before any test starts.
[[maybe_unused]] RunLog& g_runLog = RunLog::Instance();

std::string ExitCodeText(DWORD code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%lX", static_cast<unsigned long>(code));
  return std::to_string(code) + " (" + hex + ")";
}

}  // namespace

std::string RunReport() { return RunLog::Instance().Report(); }

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::size_t SizeFromEnvironment(const wchar_t* name, std::size_t fallback) {
  wchar_t value[32] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, std::size(value));
  if (length == 0 || length >= std::size(value)) return fallback;
  const std::size_t size = static_cast<std::size_t>(std::wcstoul(value, nullptr, 10));
  return size == 0 ? fallback : size;
}

std::wstring BinFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder;
}

ChildProcess::ChildProcess(const std::wstring& program, const std::wstring& arguments, const Environment& extra,
                           std::optional<WORD> showCommand, HANDLE job, const StandardHandles* handles,
                           const std::wstring& workingFolder) {
  const std::wstring file = program.find(L'\\') == std::wstring::npos ? BinFolder() + program : program;
  std::wstring commandLine = L"\"" + file + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::wstring environment = EnvironmentBlock(extra);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (showCommand) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = *showCommand;
  }
  if (handles != nullptr) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = handles->input;
    startup.hStdOutput = handles->output;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION info{};
  started_ = std::chrono::steady_clock::now();
  record_ = RunLog::Instance().AddProgram(Utf8(commandLine));
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (job != nullptr ? CREATE_SUSPENDED : 0);
  if (::CreateProcessW(file.c_str(), commandLine.data(), nullptr, nullptr, handles != nullptr, flags,
                       environment.data(), (workingFolder.empty() ? BinFolder() : workingFolder).c_str(), &startup,
                       &info)) {
    process_.Reset(info.hProcess);
    win32::UniqueHandle thread(info.hThread);
    id_ = info.dwProcessId;
    if (job != nullptr && !::AssignProcessToJobObject(job, info.hProcess)) {
      ADD_FAILURE() << "AssignProcessToJobObject failed: " << ::GetLastError();
      Kill();
      process_.Reset();
      return;
    }
    if (job != nullptr) ::ResumeThread(thread.Get());
    RunLog::Instance().SetOutcome(record_, "process " + std::to_string(id_) + " started");
  } else {
    RunLog::Instance().SetOutcome(record_, "CreateProcessW failed with error " + std::to_string(::GetLastError()));
  }
}

ChildProcess::~ChildProcess() {
  if (Running()) Kill();
}

bool ChildProcess::Running() const {
  return process_.Valid() && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

RunResult ChildProcess::Wait(Milliseconds timeout) {
  RunResult result;
  if (!process_) return result;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    result.windowShown = result.windowShown || AnyVisibleWindow(id_);
    const DWORD waited = ::WaitForSingleObject(process_.Get(), static_cast<DWORD>(kPollInterval.count()));
    const auto now = std::chrono::steady_clock::now();
    if (waited == WAIT_OBJECT_0) {
      result.finished = true;
      result.elapsed = std::chrono::duration_cast<Milliseconds>(now - started_);
      ::GetExitCodeProcess(process_.Get(), &result.exitCode);
      RunLog::Instance().SetOutcome(record_, "process " + std::to_string(id_) + " ended with exit code " +
                                                 ExitCodeText(result.exitCode) + " after " +
                                                 std::to_string(result.elapsed.count()) + " ms");
      return result;
    }
    if (now >= deadline) {
      result.elapsed = std::chrono::duration_cast<Milliseconds>(now - started_);
      RunLog::Instance().SetOutcome(record_, "process " + std::to_string(id_) + " still running after " +
                                                 std::to_string(result.elapsed.count()) + " ms");
      return result;
    }
  }
}

void ChildProcess::Kill() {
  if (!process_) return;
  ::TerminateProcess(process_.Get(), 0xDEAD);
  ::WaitForSingleObject(process_.Get(), 5000);
  const auto elapsed = std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now() - started_);
  RunLog::Instance().SetOutcome(record_, "process " + std::to_string(id_) + " ended by the test after " +
                                             std::to_string(elapsed.count()) + " ms");
}

RunResult RunProgram(const std::wstring& program, const std::wstring& arguments, const Environment& extra,
                     Milliseconds timeout) {
  ChildProcess child(program, arguments, extra);
  return child.Wait(timeout);  // one that did not finish is ended with the child
}

OutputRun RunProgramWithOutput(const std::wstring& program, const std::wstring& arguments, Milliseconds timeout) {
  const zyp::testing::ScratchFile file(L"output.txt", "");
  OutputRun run;
  {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const win32::UniqueHandle output(::CreateFileW(file.Path().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) {
      ADD_FAILURE() << "cannot open " << Utf8(file.Path()) << " for the output: " << ::GetLastError();
      return run;
    }
    const StandardHandles handles{nullptr, output.Get()};
    ChildProcess child(program, arguments, {}, std::nullopt, nullptr, &handles);
    run.result = child.Wait(timeout);
  }
  run.output = ReadWholeFile(file.Path());
  return run;
}

Journal::Journal() {
  static std::atomic<unsigned> counter{0};
  path_ = TempFolder() + L"zyp-journal-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
          std::to_wstring(++counter) + L".jsonl";
  ::DeleteFileW(path_.c_str());
  RunLog::Instance().AddJournal(this);
}

Journal::~Journal() {
  RunLog::Instance().RemoveJournal(this);
  ::DeleteFileW(path_.c_str());
}

std::string Journal::Path() const { return Utf8(path_); }

std::string Journal::Text() const { return ReadWholeFile(path_); }

std::vector<JsonValue> Journal::Entries() const {
  JsonLines lines = ParseJsonLines(Text());
  for (const std::string& bad : lines.badLines) ADD_FAILURE() << "journal line is not JSON: " << bad;
  return std::move(lines.values);
}

std::vector<JsonValue> Journal::Events(std::string_view event, DWORD pid, std::size_t from) const {
  std::vector<JsonValue> entries = Entries();
  std::vector<JsonValue> found;
  for (std::size_t i = from; i < entries.size(); ++i) {
    JsonValue& entry = entries[i];
    const std::u16string& name = entry["event"].AsText();
    if (!std::equal(name.begin(), name.end(), event.begin(), event.end())) continue;
    if (pid != 0 && entry["pid"].AsInt() != pid) continue;
    found.push_back(std::move(entry));
  }
  return found;
}

std::optional<JsonValue> Journal::WaitFor(std::string_view event, Milliseconds timeout,
                                          const std::function<bool(const JsonValue&)>& filter) const {
  std::optional<JsonValue> found;
  WaitUntil(
      [&] {
        for (JsonValue& entry : Events(event)) {
          if (!filter || filter(entry)) {
            found = std::move(entry);
            return true;
          }
        }
        return false;
      },
      timeout);
  return found;
}

StandInManager::StandInManager(const Journal& journal, const Environment& knobs, const std::wstring& arguments)
    : journal_(journal), firstEntry_(journal.Entries().size()), process_(kManagerExe, arguments, [&] {
        Environment environment = knobs;
        environment.push_back(journal.Variable());
        return environment;
      }()) {}

StandInManager::~StandInManager() { Stop(); }

bool StandInManager::WaitReady(Milliseconds timeout) {
  const auto ready = [&] { return !journal_.Events("ready", process_.Id(), firstEntry_).empty(); };
  return process_.Started() && WaitUntil(ready, timeout);
}

void StandInManager::Stop() {
  if (!process_.Running()) return;
  for (HWND window : TopLevelWindows(process_.Id()))
    if (WindowClass(window) == kManagerClass) ::PostMessageW(window, WM_CLOSE, 0, 0);
  if (!process_.Wait(10s).finished) process_.Kill();
}

HWND FindManagerWindow() { return ::FindWindowW(kManagerClass, nullptr); }

bool CloseRunningManagers(Milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (HWND window = FindManagerWindow()) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    const win32::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= 0ms) return false;
    if (process)
      ::WaitForSingleObject(process.Get(), static_cast<DWORD>(left.count()));
    else
      std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
  struct Search {
    DWORD pid;
    std::vector<HWND> windows;
  } search{pid, {}};
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == s.pid) s.windows.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

bool AnyVisibleWindow(DWORD pid) {
  for (HWND window : TopLevelWindows(pid))
    if (::IsWindowVisible(window)) return true;
  return false;
}

std::wstring WindowClass(HWND window) {
  wchar_t name[256] = {};
  const int length = ::GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? length : 0);
}

std::wstring WindowText(HWND window) {
  const int capacity = ::GetWindowTextLengthW(window) + 1;
  std::wstring text(static_cast<std::size_t>(capacity), L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), capacity)));
  return text;
}

std::optional<Dialog> FindDialog(DWORD pid) {
  for (HWND window : TopLevelWindows(pid)) {
    // A box becomes visible once its caption and controls are in place.
    if (WindowClass(window) != L"#32770" || !::IsWindowVisible(window)) continue;
    Dialog dialog{window, WindowText(window), {}};
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      if (!SameName(WindowClass(child), L"Static")) continue;
      const std::wstring text = WindowText(child);
      if (text.empty()) continue;
      if (!dialog.text.empty()) dialog.text += L"\n";
      dialog.text += text;
    }
    return dialog;
  }
  return std::nullopt;
}

std::optional<Dialog> WaitForDialog(DWORD pid, Milliseconds timeout) {
  std::optional<Dialog> dialog;
  WaitUntil([&] { return (dialog = FindDialog(pid)).has_value(); }, timeout);
  return dialog;
}

bool PressOk(const Dialog& dialog) {
  HWND button = ::GetDlgItem(dialog.window, IDOK);
  return ::PostMessageW(dialog.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(button)) !=
         FALSE;
}

bool RawPipeClient::Connect(const std::wstring& name, Milliseconds timeout) {
  const std::wstring path = L"\\\\.\\pipe\\" + name;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pipe_.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (pipe_) break;
    lastError_ = ::GetLastError();
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (lastError_ == ERROR_PIPE_BUSY)
      ::WaitNamedPipeW(path.c_str(), static_cast<DWORD>(kPollInterval.count() * 10));
    else
      std::this_thread::sleep_for(kPollInterval);
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!::SetNamedPipeHandleState(pipe_.Get(), &mode, nullptr, nullptr)) {
    lastError_ = ::GetLastError();
    pipe_.Reset();
    return false;
  }
  return true;
}

bool RawPipeClient::WriteMessage(std::span<const std::uint8_t> bytes) {
  DWORD written = 0;
  if (::WriteFile(pipe_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size())
    return true;
  lastError_ = ::GetLastError();
  return false;
}

bool RawPipeClient::WriteMessage(std::string_view bytes) {
  return WriteMessage(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<std::string> RawPipeClient::ReadMessage(Milliseconds timeout) {
  DWORD available = 0;
  const bool arrived = WaitUntil(
      [&] {
        if (::PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, &available, nullptr)) return available != 0;
        lastError_ = ::GetLastError();
        return true;
      },
      timeout, kPollInterval);
  if (!arrived || available == 0) return std::nullopt;
  std::string message;
  char buffer[4096];
  for (;;) {
    DWORD read = 0;
    const BOOL done = ::ReadFile(pipe_.Get(), buffer, sizeof buffer, &read, nullptr);
    message.append(buffer, read);
    if (done) return message;
    lastError_ = ::GetLastError();
    if (lastError_ != ERROR_MORE_DATA) return std::nullopt;
  }
}

bool RawPipeClient::Flush() {
  if (::FlushFileBuffers(pipe_.Get())) return true;
  lastError_ = ::GetLastError();
  return false;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
  return bytes;
}

namespace {

std::string RequestFileBytes(const std::vector<std::wstring>& lines, FileEncoding encoding) {
  if (encoding == FileEncoding::Utf8) {
    std::string bytes = "\xEF\xBB\xBF";
    for (const std::wstring& line : lines) bytes += Utf8(line) + "\r\n";
    return bytes;
  }
  std::string bytes = "\xFF\xFE";
  const auto put = [&bytes](wchar_t unit) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
  };
  for (const std::wstring& line : lines) {
    for (const wchar_t unit : line) put(unit);
    put(L'\r');
    put(L'\n');
  }
  return bytes;
}

}  // namespace

std::u16string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  std::u16string hex;
  hex.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0xF]);
  }
  return hex;
}

std::u16string HexBytes(std::string_view bytes) {
  return HexBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::string FileBytes(const std::wstring& path) { return ReadWholeFile(path); }

std::wstring CookieFolder() { return TempFolder() + L"ZYP\\cookies\\"; }

RequestFile::RequestFile(std::wstring_view name, const std::vector<std::wstring>& lines, FileEncoding encoding)
    : ScratchFile(name, RequestFileBytes(lines, encoding)) {}

}  // namespace zyp::e2e
