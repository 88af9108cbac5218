// ZYPQueueAddURL: hands a web address and its browsing context to the
// download queue manager, then ends by itself.
#include <windows.h>

#include "app/application.h"
#include "app/main_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  zyp::app::Application application;
  int exitCode = 0;
  {
    zyp::app::TfrmZYPQueueAddURL mainWindow(application);
    exitCode = application.Run();
  }
  return exitCode;
}
