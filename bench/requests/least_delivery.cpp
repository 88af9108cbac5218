// The least program that delivers an address to the queue manager: open the
// pipe, write the message as one pipe message, wait until the server has read
// it, end. The yardstick for the program's own delivery.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static constexpr char kMessage[] = "ADDURL:http://www.example.com/file.zip";
  static constexpr wchar_t kPipe[] = L"\\\\.\\pipe\\ZYPQueueURLPipeServer";
  HANDLE pipe = ::CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_PIPE_BUSY && ::WaitNamedPipeW(kPipe, 3000))
    pipe = ::CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return 2;
  DWORD mode = PIPE_READMODE_MESSAGE;
  DWORD written = 0;
  const bool delivered = ::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) &&
                         ::WriteFile(pipe, kMessage, sizeof kMessage - 1, &written, nullptr) &&
                         ::FlushFileBuffers(pipe);
  ::CloseHandle(pipe);
  return delivered ? 0 : 2;
}
