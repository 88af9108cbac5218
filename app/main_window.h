#pragma once
// The hidden main window. Its creation runs the program's whole work; it is
// never shown, and closing it ends the program.
#include <windows.h>

#include <chrono>
#include <functional>

#include "app/application.h"
#include "app/component_owner.h"
#include "app/tray_icon.h"
#include "intake/delivery.h"
#include "intake/dispatch.h"
#include "intake/services.h"
#include "intake/trace.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/notification_area.h"
#include "platform/win32/message_window.h"

namespace zyp::cookies {
class CookieStore;
}
namespace zyp::pipes {
class PipeClient;
}

namespace zyp::app {

class MainWindow final : public win32::MessageWindow {
 public:
  // The work that the window's creation runs: dispatch of the command line.
  using Work = std::function<intake::Delivery(intake::Services& services)>;

  // The trace, when it is on, sees every step of the work.
  MainWindow(Application& application, platform::NotificationArea& notificationArea, platform::Files& files,
             platform::Locale& locale, cookies::CookieStore& cookies, intake::Trace& trace,
             Work work = intake::Dispatch);
  ~MainWindow() override;

  // A queue message of more than one packet is written one packet per
  // handled notice: goes on handling messages until the pipe's server has
  // read all of it, the connection ended, or the deadline passed.
  void FinishDelivery(std::chrono::steady_clock::time_point deadline);

  // Destroys the components in reverse order of creation; the pipe client
  // stops its worker and waits for it while messages go on being handled.
  // How far the queue message got is taken once the worker has ended.
  void DestroyComponents();

  // What the run achieved, once the components are gone.
  int ExitCode() const;

 private:
  void CreateComponents(platform::NotificationArea& notificationArea);
  // The creation handler: runs the work once every component has loaded.
  void HandleCreation(const Work& work);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  Application& application_;
  platform::Files& files_;
  platform::Locale& locale_;
  cookies::CookieStore& cookies_;
  intake::Trace& trace_;
  ComponentOwner components_;
  pipes::PipeClient* pipe_client_ = nullptr;
  TrayIcon* tray_icon_ = nullptr;

  intake::Delivery delivery_ = intake::Delivery::NotDelivered;
  bool write_confirmed_ = false;
  bool all_written_ = false;
  // The server ended the connection before it confirmed reading: it throws
  // away whatever it had not read, so nothing written is still on its way.
  bool connection_lost_ = false;
  bool error_reported_ = false;
};

}  // namespace zyp::app
