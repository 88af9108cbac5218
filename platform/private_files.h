#pragma once
// Files that hold one request for another program of the same user: made new
// in the user's temporary folder, where nobody else may read them.
#include <string>
#include <string_view>

namespace zyp::platform {

class PrivateFiles {
 public:
  virtual ~PrivateFiles() = default;
  // A new file (CREATE_NEW) with a unique name in the folder GetTempPathW
  // names, whose access list grants the current user alone, holding the
  // bytes; returns its full path. Throws PlatformError naming the failed call.
  virtual std::u16string CreateTempFile(std::string_view bytes) = 0;
  // DeleteFileW; a file that is gone already is no failure.
  virtual void RemoveIfPresent(const std::u16string& path) = 0;
};

}  // namespace zyp::platform
