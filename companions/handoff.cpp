#include "companions/handoff.h"

#include <windows.h>

#include <algorithm>

#include "companions/pipe_names.h"
#include "intake/fixed_texts.h"
#include "intake/utf8.h"
#include "pipes/framing.h"
#include "platform/ascii_text.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace zyp::companions {

namespace {

// The running copy may hold the start-up lock without having its window yet.
constexpr DWORD kWindowWaitMs = 5000;
constexpr DWORD kPipeWaitMs = 3000;
constexpr DWORD kPollMs = 20;

HWND WaitForRunningWindow() {
  const std::u16string className(intake::kManagerWindowClass);
  const ULONGLONG deadline = ::GetTickCount64() + kWindowWaitMs;
  for (;;) {
    if (HWND window = ::FindWindowW(win32::Wide(className), nullptr)) return window;
    if (::GetTickCount64() >= deadline) return nullptr;
    ::Sleep(kPollMs);
  }
}

win32::UniqueHandle OpenManagerPipe() {
  const ULONGLONG deadline = ::GetTickCount64() + kPipeWaitMs;
  for (;;) {
    win32::UniqueHandle pipe(
        ::CreateFileW(kManagerPipePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (pipe || ::GetLastError() != ERROR_PIPE_BUSY) return pipe;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline || !::WaitNamedPipeW(kManagerPipePath, static_cast<DWORD>(deadline - now))) return pipe;
  }
}

bool WriteAll(HANDLE pipe, const void* data, std::size_t size) {
  DWORD written = 0;
  return ::WriteFile(pipe, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

// Writes the message framed as the program's pipe client frames it and
// waits until the server has read it. Returns 0 or the failing call's error.
DWORD SendMessageText(const std::string& bytes) {
  const win32::UniqueHandle pipe = OpenManagerPipe();
  if (!pipe) return ::GetLastError();
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!::SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr)) return ::GetLastError();
  bool written = true;
  if (bytes.size() <= static_cast<std::size_t>(pipes::kMaxPipeWrite)) {
    written = WriteAll(pipe.Get(), bytes.data(), bytes.size());
  } else {
    const pipes::ControlPacket start = pipes::MakeControlPacket(pipes::kStartMarker);
    const pipes::ControlPacket end = pipes::MakeControlPacket(pipes::kEndMarker);
    written = WriteAll(pipe.Get(), start.data(), start.size());
    for (std::size_t at = 0; written && at < bytes.size(); at += pipes::kMaxPipeWrite) {
      const std::size_t piece = std::min<std::size_t>(pipes::kMaxPipeWrite, bytes.size() - at);
      written = WriteAll(pipe.Get(), bytes.data() + at, piece);
    }
    written = written && WriteAll(pipe.Get(), end.data(), end.size());
  }
  if (!written || !::FlushFileBuffers(pipe.Get())) return ::GetLastError();
  return ERROR_SUCCESS;
}

}  // namespace

void HandOff(Journal& journal, const intake::CommandLine& commandLine) {
  JournalEntry entry("handoff");
  const std::u16string first = commandLine.Argument(1);
  const HWND running = WaitForRunningWindow();
  entry.Flag("running_found", running != nullptr);
  if (running == nullptr || first.empty()) {
    journal.Write(entry.Text("kind", u"none"));
    return;
  }
  const bool start = AsciiEqualIgnoreCase(first, intake::kStartWord);
  if (start || AsciiEqualIgnoreCase(first, intake::kStopWord)) {
    const UINT progress = ::RegisterWindowMessageW(win32::Wide(std::u16string(intake::kProgressMessageName)));
    const bool posted = ::PostMessageW(running, progress, intake::kProgressWParam,
                                       start ? intake::kProgressStart : intake::kProgressStop) != FALSE;
    journal.Write(entry.Text("kind", u"progress").Flag("delivered", posted));
    return;
  }
  const std::u16string text = u"ADDURL:" + first;
  const DWORD error = SendMessageText(intake::ToUtf8(text));
  journal.Write(
      entry.Text("kind", u"pipe").Text("text", text).Flag("delivered", error == ERROR_SUCCESS).Number("error", error));
}

}  // namespace zyp::companions
