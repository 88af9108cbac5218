// A program that shows one message box and ends with the button pressed:
// lets the harness prove that it finds, reads and answers such a box.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return ::MessageBoxW(nullptr, L"Something went wrong.", L"E2eMessageBox", MB_ICONERROR | MB_OK);
}
