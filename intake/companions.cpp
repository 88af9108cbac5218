#include "intake/companions.h"

#include "intake/fixed_texts.h"

namespace zyp::intake {

std::u16string ProgramFolder(std::u16string_view modulePath) {
  const std::size_t cut = modulePath.find_last_of(u"\\:");
  return cut == std::u16string_view::npos ? std::u16string() : std::u16string(modulePath.substr(0, cut + 1));
}

bool StartCompanion(Services& services, std::u16string_view file, const std::u16string& parameters) {
  const std::u16string folder = ProgramFolder(services.process.ModuleFileName());
  return services.shell
      .Execute(services.windowing.ApplicationWindow(), std::u16string(kShellVerb), folder + std::u16string(file),
               parameters, folder, kShowNormal)
      .started;
}

void PostCloseRequest(Services& services) {
  services.windowing.Post(services.windowing.MainWindow(), kCloseMessage, 0, 0);
}

}  // namespace zyp::intake
