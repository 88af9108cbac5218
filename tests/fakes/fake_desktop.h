#pragma once
// In-memory stand-ins for the process, window and shell operations. Every
// call is recorded in one log, so a test can check what happened and in
// which order.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/windowing.h"

namespace zyp::fakes {

struct PostedMessage {
  platform::WindowHandle window;
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

struct StartedProgram {
  platform::WindowHandle owner;
  std::u16string verb, file, parameters, directory;
  int showCommand;
};

class FakeDesktop : public platform::Process, public platform::Windowing, public platform::Shell {
 public:
  static constexpr platform::WindowHandle kMainWindow = 0x100;
  static constexpr platform::WindowHandle kApplicationWindow = 0x200;

  std::u16string commandLine = u"\"C:\\Program Files\\ZYP\\ZYPQueueAddURL.exe\"";
  std::u16string moduleFileName = u"C:\\Program Files\\ZYP\\ZYPQueueAddURL.exe";
  std::map<std::u16string, platform::WindowHandle> windows;  // class name -> handle
  bool shellSucceeds = true;
  // Posts to other windows fail with this error code when it is not 0.
  std::uint32_t postError = 0;

  std::vector<std::string> log;
  std::vector<PostedMessage> posted;
  std::vector<StartedProgram> started;
  std::uint32_t pausedMs = 0;

  // Process
  std::u16string CommandLine() override { return commandLine; }
  std::u16string ModuleFileName() override { return moduleFileName; }
  void Pause(std::uint32_t milliseconds) override {
    pausedMs += milliseconds;
    log.push_back("pause " + std::to_string(milliseconds));
  }

  // Windowing
  std::uint32_t RegisterMessage(const std::u16string& name) override {
    log.push_back("register");
    return name == u"WM_ZYP_PROGRESS" ? 0xC123 : 0xC999;
  }
  platform::WindowHandle FindTopLevelWindow(const std::u16string& className) override {
    log.push_back("find");
    auto it = windows.find(className);
    return it == windows.end() ? 0 : it->second;
  }
  void Post(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override {
    posted.push_back({window, message, wParam, lParam});
    log.push_back(window == kMainWindow && message == 16 ? "close" : "post");
    if (window != kMainWindow && postError != 0) throw PlatformError(postError, u"Access is denied.", "PostMessageW");
  }
  platform::WindowHandle MainWindow() override { return kMainWindow; }
  void MoveMainWindow(int left, int top) override {
    log.push_back("move " + std::to_string(left) + "," + std::to_string(top));
  }
  platform::WindowHandle ApplicationWindow() override { return kApplicationWindow; }

  // Shell
  platform::StartedProgram Execute(platform::WindowHandle owner, const std::u16string& verb, const std::u16string& file,
                                   const std::u16string& parameters, const std::u16string& directory,
                                   int showCommand) override {
    started.push_back({owner, verb, file, parameters, directory, showCommand});
    log.push_back("start");
    if (!shellSucceeds)
      throw PlatformError(2, u"The system cannot find the file specified.", platform::kStartThroughShellCall);
    return {false, 4242};
  }
};

}  // namespace zyp::fakes
