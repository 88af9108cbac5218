// Writes the two host manifests that the packages install beside
// ZYPBrowserHost.exe into the current folder: what "--register" writes, with
// the host named by its path relative to the manifest, which both browser
// families take on Windows. The build runs it, so the packages' manifests come
// from the same code. The Chromium manifest allows the ids given as arguments,
// or, without any, those "--register" allows by default (the build's list).
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "intake/utf8.h"
#include "messaging/host_registration.h"

namespace {

constexpr char16_t kHostFile[] = u"ZYPBrowserHost.exe";

}  // namespace

int main(int argc, char** argv) {
  using zyp::messaging::BrowserFamily;
  std::vector<std::u16string> chromiumIds;
  for (int i = 1; i < argc; ++i) {
    const std::string id = argv[i];
    chromiumIds.emplace_back(id.begin(), id.end());
    if (!zyp::messaging::IsChromiumExtensionId(chromiumIds.back())) {
      std::fprintf(stderr, "host_manifests: not a Chromium extension id: %s\n", argv[i]);
      return 1;
    }
  }
  if (chromiumIds.empty()) chromiumIds = zyp::messaging::DefaultChromiumExtensionIds();
  const std::vector<std::u16string> firefoxIds{std::u16string(zyp::messaging::kDefaultFirefoxExtensionId)};
  for (const BrowserFamily family : {BrowserFamily::Chromium, BrowserFamily::Firefox}) {
    const std::string name = zyp::intake::ToUtf8(zyp::messaging::ManifestFileName(family));
    const std::string text =
        zyp::messaging::ManifestText(family, kHostFile, family == BrowserFamily::Chromium ? chromiumIds : firefoxIds);
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
