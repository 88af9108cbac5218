#pragma once
// A notification area that records every call in one log and answers from a
// script, so a test sees what the tray icon asked of the system, in order.
#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/notification_area.h"

namespace zyp::fakes {

// How the fake answers one call: refused with that last error, or not.
struct NotifyAnswer {
  bool succeeded = false;
  std::uint32_t lastError = 0;
};

class FakeNotificationArea : public platform::NotificationArea {
 public:
  bool present = true;
  std::uint32_t shellVersion = 6;
  bool animation = false;
  // Answers to the Notify calls in the order they come; success when empty.
  std::deque<NotifyAnswer> results;
  // The animation entries say whether this window was visible at that moment.
  HWND watchedWindow = nullptr;

  std::vector<std::string> log;
  std::vector<platform::NotifyIconRecord> records;
  std::uint32_t pausedMs = 0;

  void Notify(platform::NotifyAction action, const platform::NotifyIconRecord& record) override {
    static const char* const names[] = {"add", "modify", "delete", "?", "setversion"};
    log.push_back(names[static_cast<std::uint32_t>(action)]);
    records.push_back(record);
    if (results.empty()) return;
    const NotifyAnswer answer = results.front();
    results.pop_front();
    if (!answer.succeeded) throw PlatformError(answer.lastError, u"Unspecified error", "Shell_NotifyIconW");
  }
  bool Present() override { return present; }
  std::uint32_t ShellMajorVersion() override { return shellVersion; }
  bool AnimationOn() override {
    log.push_back("animation?");
    return animation;
  }
  void SetAnimation(bool on) override {
    animation = on;
    const char* shown = ::IsWindowVisible(watchedWindow) ? " (shown)" : " (hidden)";
    log.push_back(std::string(on ? "animation on" : "animation off") + shown);
  }
  void Pause(std::uint32_t milliseconds) override {
    pausedMs += milliseconds;
    log.push_back("pause " + std::to_string(milliseconds));
  }

  // The log without the animation entries: the calls of the notification area alone.
  std::vector<std::string> NotifyLog() const {
    std::vector<std::string> calls;
    for (const std::string& entry : log) {
      if (entry.rfind("animation", 0) != 0) calls.push_back(entry);
    }
    return calls;
  }
};

}  // namespace zyp::fakes
