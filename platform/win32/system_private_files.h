#pragma once
// Private request files in the user's temporary folder, through the Win32
// file and security API.
#include "platform/private_files.h"

namespace zyp::win32 {

class SystemPrivateFiles final : public platform::PrivateFiles {
 public:
  std::u16string CreateTempFile(std::u16string_view prefix, std::string_view bytes) override;
  void RemoveIfPresent(const std::u16string& path) override;
  std::size_t RemoveStaleTempFiles(std::u16string_view prefix, std::uint64_t ageMs, std::size_t maxNames) override;
};

}  // namespace zyp::win32
