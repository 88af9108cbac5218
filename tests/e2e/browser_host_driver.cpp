#include "tests/e2e/browser_host_driver.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace zyp::e2e {

namespace {

constexpr DWORD kPipeBuffer = 1 << 20;

struct Pipes {
  win32::UniqueHandle hostInput;   // the host's end, inherited
  win32::UniqueHandle testInput;   // the test writes here
  win32::UniqueHandle hostOutput;  // the host's end, inherited
  win32::UniqueHandle testOutput;  // the test reads here
};

Pipes MakeAnonymousPipes() {
  SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
  Pipes pipes;
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (::CreatePipe(&read, &write, &inherited, kPipeBuffer)) {
    pipes.hostInput.Reset(read);
    pipes.testInput.Reset(write);
  }
  if (::CreatePipe(&read, &write, &inherited, kPipeBuffer)) {
    pipes.testOutput.Reset(read);
    pipes.hostOutput.Reset(write);
  }
  // Only the host's ends are handed down.
  ::SetHandleInformation(pipes.testInput.Get(), HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(pipes.testOutput.Get(), HANDLE_FLAG_INHERIT, 0);
  return pipes;
}

// As Chromium makes them: the browser holds the server ends of two named
// pipes, and the host's handles are opened on them with read-data or
// write-data access only.
Pipes MakeNamedPipes() {
  static std::atomic<unsigned> counter{0};
  const std::wstring name = L"\\\\.\\pipe\\zyp-test.nativeMessaging." + std::to_wstring(::GetCurrentProcessId()) +
                            L"." + std::to_wstring(++counter);
  const std::wstring in = name + L".in";
  const std::wstring out = name + L".out";
  constexpr DWORD kMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
  Pipes pipes;
  pipes.testInput.Reset(::CreateNamedPipeW(in.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE, kMode, 1,
                                           kPipeBuffer, kPipeBuffer, 0, nullptr));
  pipes.testOutput.Reset(::CreateNamedPipeW(out.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE, kMode, 1,
                                            kPipeBuffer, kPipeBuffer, 0, nullptr));
  if (!pipes.testInput || !pipes.testOutput) {
    ADD_FAILURE() << "CreateNamedPipeW failed: " << ::GetLastError();
    return pipes;
  }
  SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
  pipes.hostInput.Reset(::CreateFileW(in.c_str(), FILE_READ_DATA, 0, &inherited, OPEN_EXISTING, 0, nullptr));
  pipes.hostOutput.Reset(::CreateFileW(out.c_str(), FILE_WRITE_DATA, 0, &inherited, OPEN_EXISTING, 0, nullptr));
  if (!pipes.hostInput || !pipes.hostOutput) ADD_FAILURE() << "opening the named pipes failed: " << ::GetLastError();
  return pipes;
}

ChildProcess StartHost(Pipes& pipes, const Environment& extra, const HostStart& start) {
  const StandardHandles handles{pipes.hostInput.Get(), pipes.hostOutput.Get()};
  ChildProcess process(start.program, start.arguments, extra, std::nullopt, start.job, &handles, start.workingFolder);
  // The host holds its ends now: ours would keep its input open and our
  // output from ever ending.
  pipes.hostInput.Reset();
  pipes.hostOutput.Reset();
  return process;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

}  // namespace

HostStart ChromiumStart(const std::wstring& hostPath, const std::wstring& origin) {
  return {hostPath, origin + L" --parent-window=0", FolderOf(hostPath), true, nullptr};
}

HostStart FirefoxStart(const std::wstring& hostPath, const std::wstring& manifestPath, const std::wstring& addonId,
                       HANDLE job) {
  return {hostPath, L"\"" + manifestPath + L"\" " + addonId, FolderOf(hostPath), false, job};
}

BrowserHostProcess::BrowserHostProcess(const Environment& extra, const std::wstring& program,
                                       const std::wstring& arguments)
    : BrowserHostProcess(HostStart{program, arguments, {}, false, nullptr}, extra) {}

BrowserHostProcess::BrowserHostProcess(const HostStart& start, const Environment& extra)
    : process_([&] {
        Pipes pipes = start.namedPipes ? MakeNamedPipes() : MakeAnonymousPipes();
        ChildProcess started = StartHost(pipes, extra, start);
        input_ = std::move(pipes.testInput);
        output_ = std::move(pipes.testOutput);
        return started;
      }()) {
  reader_ = std::thread([this] { ReadReplies(); });
}

BrowserHostProcess::~BrowserHostProcess() {
  CloseInput();
  if (process_.Running() && !process_.Wait(10s).finished) process_.Kill();
  reader_.join();
}

bool BrowserHostProcess::Send(std::string_view json) {
  const auto size = static_cast<std::uint32_t>(json.size());
  std::string framed(reinterpret_cast<const char*>(&size), 4);
  framed.append(json);
  return SendRaw(framed);
}

bool BrowserHostProcess::SendRaw(std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(input_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

void BrowserHostProcess::ReadReplies() {
  std::string pending;
  char buffer[65536];
  DWORD read = 0;
  while (::ReadFile(output_.Get(), buffer, sizeof buffer, &read, nullptr) && read != 0) {
    pending.append(buffer, read);
    std::size_t at = 0;
    std::uint32_t length = 0;
    const std::lock_guard lock(lock_);
    while (pending.size() - at >= 4 &&
           (std::memcpy(&length, pending.data() + at, 4), pending.size() - at - 4 >= length)) {
      replies_.push_back(pending.substr(at + 4, length));
      at += 4 + length;
    }
    pending.erase(0, at);
    arrived_.notify_all();
  }
  const std::lock_guard lock(lock_);
  leftOver_ = pending.size();
  ended_ = true;
  arrived_.notify_all();
}

std::optional<std::string> BrowserHostProcess::NextReplyText(Milliseconds timeout) {
  std::unique_lock lock(lock_);
  if (!arrived_.wait_for(lock, timeout, [this] { return !replies_.empty() || ended_; }) || replies_.empty())
    return std::nullopt;
  std::string reply = std::move(replies_.front());
  replies_.pop_front();
  return reply;
}

std::vector<JsonValue> BrowserHostProcess::Replies(std::size_t count, Milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<JsonValue> replies;
  while (replies.size() < count) {
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - std::chrono::steady_clock::now());
    const std::optional<std::string> text = NextReplyText(std::max(left, Milliseconds(0)));
    if (!text) {
      ADD_FAILURE() << "reply " << replies.size() + 1 << " of " << count << " did not come";
      break;
    }
    std::optional<JsonValue> reply = ParseJson(*text);
    if (!reply) {
      ADD_FAILURE() << "a reply is not JSON: " << text->substr(0, 400);
      continue;
    }
    replies.push_back(std::move(*reply));
  }
  return replies;
}

std::size_t BrowserHostProcess::LeftOverBytes() {
  const std::lock_guard lock(lock_);
  return leftOver_;
}

}  // namespace zyp::e2e
