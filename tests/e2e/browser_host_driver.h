#pragma once
// The real ZYPBrowserHost.exe driven as a browser drives it: framed requests
// on its standard input, replies read from its standard output by a thread of
// their own, so that a host that answers while the test still writes never
// waits for the test.
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

class BrowserHostProcess {
 public:
  explicit BrowserHostProcess(const Environment& extra = {}, const std::wstring& program = kBrowserHostExe,
                              const std::wstring& arguments = kChromiumOrigin);
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
