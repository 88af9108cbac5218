#include "platform/win32/system_command_output.h"

#include <algorithm>
#include <string>

#include "platform/error.h"
#include "platform/win32/system_byte_streams.h"

namespace zyp::win32 {

namespace {

bool Present(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

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
    // A console takes part of a long line at a time; one that takes nothing
    // ends the line, so that it never holds the command.
    const wchar_t* units = text.data();
    for (std::size_t left = text.size(); left > 0;) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 0x10000));
      if (!::WriteConsoleW(output_, units, chunk, &written, nullptr) || written == 0) return;
      units += written;
      left -= written;
    }
    return;
  }
  // Unpaired surrogates become U+FFFD.
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
  try {
    SystemByteOutput(output_).Write(bytes.data(), bytes.size());
  } catch (const PlatformError&) {
    // Dropped: the exit code still tells how the command ended.
  }
}

}  // namespace zyp::win32
