#include "browser_host/registration_command.h"

#include "platform/win32/system_command_output.h"
#include "platform/win32/system_files.h"
#include "platform/win32/system_registry.h"
#include "platform/win32/system_user_folders.h"

namespace zyp::browser_host {

int RunRegistrationCommand(const messaging::HostArguments& arguments, platform::Process& process) {
  win32::SystemRegistry registry;
  win32::SystemFiles files;
  win32::SystemUserFolders folders;
  win32::SystemCommandOutput output;
  return messaging::RunRegistration({registry, files, folders, process, output}, arguments);
}

}  // namespace zyp::browser_host
