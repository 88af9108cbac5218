#pragma once
// The current user's folders through the shell's known folders.
#include "platform/user_folders.h"

namespace zyp::win32 {

class SystemUserFolders final : public platform::UserFolders {
 public:
  std::u16string LocalAppData() override;
};

}  // namespace zyp::win32
