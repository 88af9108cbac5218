#pragma once
// Files and folders through the Win32 file API.
#include <cstdint>

#include "platform/files.h"

namespace zyp::win32 {

class SystemFiles final : public platform::Files {
 public:
  // How long a parameter file that another program holds (a sharing or lock
  // violation) is tried again, and the pause between two tries.
  static constexpr std::uint32_t kHeldFileRetryMs = 1000;
  static constexpr std::uint32_t kHeldFileRetryPauseMs = 50;

  std::u16string TempPath(std::uint32_t capacity) override;
  bool DirectoryExists(const std::u16string& path) override;
  bool FileExists(const std::u16string& path) override;
  void MakeDirectory(const std::u16string& path) override;
  std::unique_ptr<platform::WritableFile> CreateForWriting(const std::u16string& path) override;
  void Remove(const std::u16string& path) override;
  void RemoveEmptyDirectory(const std::u16string& path) override;
  platform::FileContent ReadAll(const std::u16string& path, std::uint64_t maxSize) override;
};

}  // namespace zyp::win32
