#include "platform/win32/system_command_output.h"

#include <algorithm>
#include <string>

namespace zyp::win32 {

namespace {

bool Present(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// Writes all units, each call taking what it can; stops once a call fails or
// takes nothing, so that a reader that takes nothing never holds the command.
template <typename Unit, typename WriteCall>
void WriteAll(const Unit* units, std::size_t count, WriteCall write) {
  while (count > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 0x10000));
    if (!write(units, chunk, &written) || written == 0) return;
    units += written;
    count -= written;
  }
}

}  // namespace

SystemCommandOutput::SystemCommandOutput() : output_(::GetStdHandle(STD_OUTPUT_HANDLE)) {
  if (Present(output_)) return;
  output_ = nullptr;
  // Refused when the parent has no console, and also when this process is
  // attached to one already (Wine attaches a GUI program to its parent's):
  // "CONOUT$" opens only when there is a console, and never makes one.
  ::AttachConsole(ATTACH_PARENT_PROCESS);
  console_.Reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  if (console_) output_ = console_.Get();
}

void SystemCommandOutput::WriteLine(std::u16string_view line) {
  if (output_ == nullptr) return;
  std::wstring text(line.begin(), line.end());
  text += L"\r\n";
  DWORD mode = 0;
  if (::GetConsoleMode(output_, &mode)) {
    WriteAll(text.data(), text.size(), [&](const wchar_t* units, DWORD count, DWORD* written) {
      return ::WriteConsoleW(output_, units, count, written, nullptr) != FALSE;
    });
    return;
  }
  // Unpaired surrogates become U+FFFD.
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
  WriteAll(bytes.data(), bytes.size(), [&](const char* units, DWORD count, DWORD* written) {
    return ::WriteFile(output_, units, count, written, nullptr) != FALSE;
  });
}

}  // namespace zyp::win32
