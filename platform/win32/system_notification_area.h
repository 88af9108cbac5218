#pragma once
// The notification area and the animation setting through Shell32 and User32.
#include "platform/notification_area.h"

namespace zyp::win32 {

class SystemNotificationArea final : public platform::NotificationArea {
 public:
  void Notify(platform::NotifyAction action, const platform::NotifyIconRecord& record) override;
  bool Present() override;
  std::uint32_t ShellMajorVersion() override;
  bool AnimationOn() override;
  void SetAnimation(bool on) override;
  void Pause(std::uint32_t milliseconds) override;
};

}  // namespace zyp::win32
