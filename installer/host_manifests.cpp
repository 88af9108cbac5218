// Writes the two host manifests that the packages install beside
// ZYPBrowserHost.exe into the current folder: what "--register" writes for
// the extensions it allows by default, with the host named by its path
// relative to the manifest, which both browser families take on Windows.
// The build runs it, so the packages' manifests come from the same code.
#include <cstdio>
#include <fstream>
#include <string>

#include "intake/utf8.h"
#include "messaging/host_registration.h"

namespace {

constexpr char16_t kHostFile[] = u"ZYPBrowserHost.exe";

}  // namespace

int main() {
  using zyp::messaging::BrowserFamily;
  const zyp::messaging::HostArguments defaults = zyp::messaging::ParseHostArguments(u"ZYPBrowserHost.exe --register");
  for (const BrowserFamily family : {BrowserFamily::Chromium, BrowserFamily::Firefox}) {
    const std::string name = zyp::intake::ToUtf8(zyp::messaging::ManifestFileName(family));
    const std::string text = zyp::messaging::ManifestText(
        family, kHostFile, family == BrowserFamily::Chromium ? defaults.chromiumIds : defaults.firefoxIds);
    std::ofstream file(name, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (!file) {
      std::fprintf(stderr, "host_manifests: could not write %s\n", name.c_str());
      return 1;
    }
  }
  return 0;
}
