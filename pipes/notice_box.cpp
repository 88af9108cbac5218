#include "pipes/notice_box.h"

#include <bcrypt.h>

#include "platform/win32/wide_text.h"

namespace zyp::pipes {

namespace {

class BoxLock {
 public:
  explicit BoxLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~BoxLock() { ::ReleaseSRWLockExclusive(&lock_); }
  BoxLock(const BoxLock&) = delete;
  BoxLock& operator=(const BoxLock&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace

NoticeBox::Tag NoticeBox::Arm(const Notice& notice) {
  Tag tag{};
  if (!BCRYPT_SUCCESS(
          ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&tag), sizeof(tag), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw win32::LastPlatformError(ERROR_GEN_FAILURE);
  BoxLock lock(lock_);
  notice_ = notice;
  tag_ = tag;
  armed_ = true;
  return tag;
}

void NoticeBox::Disarm() {
  BoxLock lock(lock_);
  armed_ = false;
}

std::optional<Notice> NoticeBox::Take(UINT message, WPARAM wParam, LPARAM lParam) {
  BoxLock lock(lock_);
  if (!armed_ || message != notice_.message || wParam != tag_.wParam || lParam != tag_.lParam) return std::nullopt;
  armed_ = false;
  return notice_;
}

}  // namespace zyp::pipes
