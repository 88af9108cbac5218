// ZYPBrowserHost: the native-messaging host of the ZYP browser extension.
// The browser starts it and talks to it over its standard input and output;
// it runs ZYPQueueAddURL.exe, from its own folder, for every request.
// "--register" and "--unregister" register it for the current user instead.
#include <windows.h>

#include <string>

#include "browser_host/registration_command.h"
#include "host_version.h"
#include "intake/companions.h"
#include "messaging/host_session.h"
#include "platform/error.h"
#include "platform/win32/system_byte_streams.h"
#include "platform/win32/system_child_programs.h"
#include "platform/win32/system_private_files.h"
#include "platform/win32/system_process.h"
#include "platform/win32/system_windowing.h"

namespace {

constexpr char16_t kProgramFile[] = u"ZYPQueueAddURL.exe";
// Long paths are allowed here: the program is started by its full path.
constexpr std::uint32_t kModulePathCapacity = 32768;

int ServeRequests() {
  std::u16string program;
  try {
    program =
        zyp::intake::ProgramFolder(zyp::win32::SystemProcess(kModulePathCapacity).ModuleFileName()) + kProgramFile;
  } catch (const zyp::PlatformError&) {
    // Without its own folder the host has no program to run: the browser
    // sees it end before any reply.
    return 1;
  }
  zyp::win32::SystemByteInput input(::GetStdHandle(STD_INPUT_HANDLE));
  zyp::win32::SystemByteOutput output(::GetStdHandle(STD_OUTPUT_HANDLE));
  zyp::win32::SystemChildPrograms programs;
  zyp::win32::SystemPrivateFiles files;
  // Only looks windows up: the host has no windows of its own.
  zyp::win32::SystemWindowing windowing(nullptr, nullptr);
  zyp::messaging::HostSession session({input, output, programs, files, windowing, program, ZYP_PRODUCT_VERSION});
  return session.Serve();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  zyp::win32::SystemProcess process(kModulePathCapacity);
  const zyp::messaging::HostArguments arguments = zyp::messaging::ParseHostArguments(process.CommandLine());
  if (arguments.command != zyp::messaging::HostCommand::Serve)
    return zyp::browser_host::RunRegistrationCommand(arguments, process);
  return ServeRequests();
}
