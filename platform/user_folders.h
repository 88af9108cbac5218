#pragma once
// The current user's own folders, as the shell knows them.
#include <string>

namespace zyp::platform {

class UserFolders {
 public:
  virtual ~UserFolders() = default;
  // SHGetKnownFolderPath(FOLDERID_LocalAppData) with no flags and no token:
  // the full path of the current user's local application-data folder,
  // without a trailing "\". Throws PlatformError naming the call.
  virtual std::u16string LocalAppData() = 0;
};

}  // namespace zyp::platform
