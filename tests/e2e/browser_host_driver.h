#pragma once
// The real ZYPBrowserHost.exe driven as a browser drives it: framed requests
// on its standard input, replies read from its standard output by a thread of
// their own, so that a host that answers while the test still writes never
// waits for the test. It is started from the test's folder on anonymous
// pipes, or exactly as a browser on Windows starts it (HostStart).
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/win32/scoped_handle.h"
#include "tests/e2e/harness.h"

namespace zyp::e2e {

inline constexpr wchar_t kBrowserHostExe[] = L"ZYPBrowserHost.exe";
// What Chromium passes a host it starts: the caller's origin.
inline constexpr wchar_t kChromiumOrigin[] = L"chrome-extension://bbfoidedccldpkpienckfkdpmffjbkbm/";

// How a browser starts a host on Windows: Chromium starts the .exe directly
// in its own folder, with its standard input and output opened on two named
// pipes, one for reading and one for writing only; Firefox starts it directly
// with the manifest's path and the add-on id, inside a job object that ends
// its processes when it closes and lets them break away.
struct HostStart {
  std::wstring program;  // a name in BinFolder(), or a full path
  std::wstring arguments;
  std::wstring workingFolder;  // BinFolder() when empty
  bool namedPipes = false;     // else the ends of anonymous pipes
  HANDLE job = nullptr;        // the job it runs in, if any
};

// Chromium's start of the host at this path, with the origin of the calling
// extension (--parent-window names the browser's window; 0 when none).
HostStart ChromiumStart(const std::wstring& hostPath, const std::wstring& origin = kChromiumOrigin);
// Firefox's start of the host at this path, for the manifest and the add-on.
HostStart FirefoxStart(const std::wstring& hostPath, const std::wstring& manifestPath, const std::wstring& addonId,
                       HANDLE job);

class BrowserHostProcess {
 public:
  explicit BrowserHostProcess(const Environment& extra = {}, const std::wstring& program = kBrowserHostExe,
                              const std::wstring& arguments = kChromiumOrigin);
  BrowserHostProcess(const HostStart& start, const Environment& extra);
  ~BrowserHostProcess();
  BrowserHostProcess(const BrowserHostProcess&) = delete;
  BrowserHostProcess& operator=(const BrowserHostProcess&) = delete;

  bool Started() const { return process_.Started(); }
  DWORD Id() const { return process_.Id(); }
  // One request: the length, then the text. False when the host has gone.
  bool Send(std::string_view json);
  // Bytes as they are, framing included or not.
  bool SendRaw(std::string_view bytes);
  // The browser closes its end: the host's input ends.
  void CloseInput() { input_.Reset(); }
  // The next reply's text; nothing when none came in time.
  std::optional<std::string> NextReplyText(Milliseconds timeout);
  // The next count replies, parsed; fails the test for each one that did not
  // come in time or is not JSON.
  std::vector<JsonValue> Replies(std::size_t count, Milliseconds timeout);
  // Waits for the host to end (after the input ended).
  RunResult Wait(Milliseconds timeout) { return process_.Wait(timeout); }
  // Bytes after the last whole reply when the output ended: a cut reply.
  std::size_t LeftOverBytes();

 private:
  void ReadReplies();

  win32::UniqueHandle input_;
  win32::UniqueHandle output_;
  ChildProcess process_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<std::string> replies_;
  std::size_t leftOver_ = 0;
  bool ended_ = false;
  std::thread reader_;
};

}  // namespace zyp::e2e
