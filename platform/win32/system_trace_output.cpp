#include "platform/win32/system_trace_output.h"

#include <windows.h>

#include <cstdio>

namespace zyp::win32 {

std::unique_ptr<SystemTraceOutput> SystemTraceOutput::FromEnvironment(const wchar_t* variable) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetEnvironmentVariableW(variable, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return nullptr;
    if (length < path.size()) {
      path.resize(length);
      return Open(path);
    }
    path.resize(length);  // the size it needs, its zero included
  }
}

std::unique_ptr<SystemTraceOutput> SystemTraceOutput::Open(const std::wstring& path) {
  const DWORD error = ::GetLastError();
  // Appending only: each write lands at the end, also while other runs
  // append to the same file.
  UniqueHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  const bool usable = file && ::GetFileType(file.Get()) == FILE_TYPE_DISK;
  ::SetLastError(error);
  if (!usable) return nullptr;
  return std::unique_ptr<SystemTraceOutput>(new SystemTraceOutput(std::move(file)));
}

void SystemTraceOutput::Append(std::string_view bytes) {
  const DWORD error = ::GetLastError();
  DWORD written = 0;
  // A trace never changes what the run does: a failed write is dropped.
  ::WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::SetLastError(error);
}

std::string SystemTraceOutput::UtcTime() {
  SYSTEMTIME now{};
  ::GetSystemTime(&now);
  char text[32] = {};
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond, now.wMilliseconds);
  return text;
}

std::uint64_t SystemTraceOutput::MonotonicMs() {
  LARGE_INTEGER counter{}, frequency{};
  // Neither call fails on any system this program runs on.
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  const LONGLONG perMs = frequency.QuadPart >= 1000 ? frequency.QuadPart / 1000 : 1;
  return static_cast<std::uint64_t>(counter.QuadPart / perMs);
}

std::uint32_t SystemTraceOutput::ProcessId() { return ::GetCurrentProcessId(); }

}  // namespace zyp::win32
