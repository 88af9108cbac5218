#include "pipes/notice_box.h"

#include <bcrypt.h>

#include "platform/win32/check.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

NoticeBox::Tag NoticeBox::Arm(const Notice& notice) {
  Tag tag{};
  const NTSTATUS status =
      ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&tag), sizeof(tag), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (!BCRYPT_SUCCESS(status)) win32::ThrowLastError("BCryptGenRandom", ERROR_GEN_FAILURE);
  win32::SrwExclusiveLock lock(lock_);
  notice_ = notice;
  tag_ = tag;
  armed_ = true;
  return tag;
}

void NoticeBox::Disarm() {
  win32::SrwExclusiveLock lock(lock_);
  armed_ = false;
}

std::optional<Notice> NoticeBox::Take(UINT message, WPARAM wParam, LPARAM lParam) {
  win32::SrwExclusiveLock lock(lock_);
  if (!armed_ || message != notice_.message || wParam != tag_.w_param || lParam != tag_.l_param) return std::nullopt;
  armed_ = false;
  return notice_;
}

}  // namespace zyp::pipes
