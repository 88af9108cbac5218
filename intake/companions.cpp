#include "intake/companions.h"

#include "intake/fixed_texts.h"
#include "platform/error.h"

namespace zyp::intake {

std::u16string ProgramFolder(std::u16string_view modulePath) {
  const std::size_t cut = modulePath.find_last_of(u"\\:");
  return cut == std::u16string_view::npos ? std::u16string() : std::u16string(modulePath.substr(0, cut + 1));
}

bool StartCompanion(Services& services, std::u16string_view file, const std::u16string& parameters) {
  const std::u16string folder = ProgramFolder(services.process.ModuleFileName());
  try {
    services.shell.Execute(services.windowing.ApplicationWindow(), std::u16string(kShellVerb),
                           folder + std::u16string(file), parameters, folder, kShowNormal);
    return true;
  } catch (const PlatformError&) {
    // The request is then not delivered, and the exit code says so.
    return false;
  }
}

void PostCloseRequest(Services& services) {
  try {
    services.windowing.Post(services.windowing.MainWindow(), kCloseMessage, 0, 0);
  } catch (const PlatformError&) {
    // Only a full queue (ten thousand posted messages) refuses a post to the
    // program's own window, and nothing else posts to it.
  }
}

}  // namespace zyp::intake
