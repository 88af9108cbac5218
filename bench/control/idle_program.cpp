// Starts and ends: what any Windows GUI program costs before it does work.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
