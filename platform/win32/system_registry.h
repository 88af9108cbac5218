#pragma once
// The registry operations through Advapi32.
#include "platform/registry.h"

namespace zyp::win32 {

class SystemRegistry final : public platform::Registry {
 public:
  std::unique_ptr<platform::RegistryKey> OpenCurrentUserKey(const std::u16string& path) override;
  std::unique_ptr<platform::RegistryKey> CreateCurrentUserKey(const std::u16string& path) override;
  bool DeleteCurrentUserKey(const std::u16string& path) override;
};

}  // namespace zyp::win32
