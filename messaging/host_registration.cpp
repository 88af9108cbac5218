#include "messaging/host_registration.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "intake/command_line.h"
#include "intake/utf8.h"
#include "messaging/browser_request.h"
#include "platform/ascii_text.h"
#include "platform/error.h"
#include "platform/error_codes.h"

namespace zyp::messaging {

namespace {

constexpr std::u16string_view kRegisterCommand = u"--register";
constexpr std::u16string_view kUnregisterCommand = u"--unregister";
constexpr std::u16string_view kChromiumIdOption = u"--chromium-extension-id";
constexpr std::u16string_view kFirefoxIdOption = u"--firefox-extension-id";
constexpr std::u16string_view kHive = u"HKEY_CURRENT_USER\\";
constexpr std::uint32_t kRegSz = 1;
// An argument is echoed in a refusal only this far.
constexpr std::size_t kShownArgumentLength = 100;

std::u16string Joined(std::initializer_list<std::u16string_view> parts) {
  std::u16string text;
  for (const std::u16string_view part : parts) text += part;
  return text;
}

// An argument as a refusal shows it: quoted, its controls made blanks, cut.
std::u16string Shown(std::u16string_view argument) {
  const bool cut = argument.size() > kShownArgumentLength;
  return Joined({u"\"", BlankControls(argument.substr(0, kShownArgumentLength)), cut ? u"...\"" : u"\""});
}

std::u16string Decimal(std::uint32_t number) {
  const std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

constexpr bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

constexpr bool IsAddonIdCharacter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' ||
         c == u'_';
}

bool IsGuidInBraces(std::u16string_view id) {
  constexpr std::u16string_view kShape = u"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (id.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < id.size(); ++i)
    if (kShape[i] == u'x' ? !IsHexDigit(id[i]) : id[i] != kShape[i]) return false;
  return true;
}

// The parts between backslashes, each a plain name.
bool ArePlainNames(std::u16string_view path) {
  for (std::size_t start = 0;;) {
    const std::size_t end = std::min(path.find(u'\\', start), path.size());
    const std::u16string_view part = path.substr(start, end - start);
    if (part.empty() || part == u"." || part == u"..") return false;
    for (const char16_t c : part)
      if (c < u' ' || std::u16string_view(u"\"*:<>?|/").find(c) != std::u16string_view::npos) return false;
    if (end == path.size()) return true;
    start = end + 1;
  }
}

// A REG_SZ value's text up to its first NUL; nothing for any other type.
std::optional<std::u16string> StringOf(const std::optional<platform::RegistryValue>& value) {
  if (!value || value->type != kRegSz) return std::nullopt;
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value->data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

class Registration {
 public:
  explicit Registration(const RegistrationServices& services) : services_(services) {}

  int Register(const HostArguments& arguments) {
    std::u16string hostPath;
    std::u16string localAppData;
    if (!Attempt(u"Could not find the host's own path", [&] { hostPath = services_.process.ModuleFileName(); }) ||
        !Plain(u"The host's own path", hostPath) || !FindLocalAppData(localAppData))
      return kRegistrationFailed;
    std::vector<bool> packages;
    if (!FindPackageKeys(packages)) return kRegistrationFailed;
    if (std::find(packages.begin(), packages.end(), true) != packages.end()) {
      Print(
          u"Nothing was written: the per-user package registers the host for this user, with the extension ids "
          u"it was built with. Uninstall it to register this host instead.");
      return kRegistrationLeftToPackage;
    }
    for (const std::u16string& folder : {VendorFolder(localAppData), HostFolder(localAppData)}) {
      bool created = false;
      if (!Attempt(u"Could not create the folder " + folder, [&] { created = MakeFolder(folder); }))
        return kRegistrationFailed;
      if (created) Print(u"Created the folder " + folder);
    }
    for (const BrowserFamily family : {BrowserFamily::Chromium, BrowserFamily::Firefox}) {
      const std::u16string path = ManifestPath(localAppData, family);
      const std::string text = ManifestText(
          family, hostPath, family == BrowserFamily::Chromium ? arguments.chromiumIds : arguments.firefoxIds);
      // The file is closed, and so written, before the line says so.
      if (!Attempt(u"Could not write " + path,
                   [&] { services_.files.CreateForWriting(path)->Write(text.data(), text.size()); }))
        return kRegistrationFailed;
      Print(u"Wrote " + path);
    }
    for (const HostKey& key : kHostKeys) {
      const std::u16string manifest = ManifestPath(localAppData, key.family);
      if (!Attempt(Joined({u"Could not set ", kHive, key.path}), [&] {
            services_.registry.CreateCurrentUserKey(std::u16string(key.path))->SetString(u"", manifest);
          }))
        return kRegistrationFailed;
      Print(Joined({u"Set ", kHive, key.path, u" to ", manifest}));
    }
    return kRegistrationDone;
  }

  int Unregister() {
    bool failed = false;
    bool removed = false;
    const auto removal = [&](std::u16string_view what, const std::function<bool()>& remove) {
      bool done = false;
      if (!Attempt(Joined({u"Could not remove ", what}), [&] { done = remove(); })) failed = true;
      if (done) Print(Joined({u"Removed ", what}));
      removed = removed || done;
    };
    // Nothing goes when it is unknown whose the keys are.
    std::vector<bool> packages;
    if (!FindPackageKeys(packages)) return kRegistrationFailed;
    const bool left = std::find(packages.begin(), packages.end(), true) != packages.end();
    for (std::size_t i = 0; i < kHostKeys.size(); ++i) {
      if (packages[i]) continue;
      const HostKey& key = kHostKeys[i];
      removal(Joined({kHive, key.path}),
              [&] { return services_.registry.DeleteCurrentUserKey(std::u16string(key.path)); });
    }
    std::u16string localAppData;
    if (!FindLocalAppData(localAppData)) return kRegistrationFailed;
    for (const BrowserFamily family : {BrowserFamily::Chromium, BrowserFamily::Firefox}) {
      const std::u16string path = ManifestPath(localAppData, family);
      removal(path, [&] { return RemovedIfThere([&] { services_.files.Remove(path); }, {}); });
    }
    // Another program's file in either folder keeps it, and no line says so:
    // it was never ours.
    for (const std::u16string& folder : {HostFolder(localAppData), VendorFolder(localAppData)})
      removal(u"the folder " + folder, [&] {
        return RemovedIfThere([&] { services_.files.RemoveEmptyDirectory(folder); }, {platform::kErrorDirNotEmpty});
      });
    if (left) Print(u"The per-user package's keys stay: uninstalling the package takes them away.");
    if (!removed && !failed && !left) Print(u"Nothing was registered.");
    if (failed) return kRegistrationFailed;
    return left ? kRegistrationLeftToPackage : kRegistrationDone;
  }

 private:
  void Print(const std::u16string& line) { services_.output.WriteLine(line); }

  // Runs a step; a failed system call ends it, and is printed after what the
  // step was doing.
  template <typename Step>
  bool Attempt(std::u16string_view what, Step&& step) {
    try {
      step();
      return true;
    } catch (const PlatformError& error) {
      std::u16string line = Joined({what, u": ", error.Message(), u" ("});
      const std::string_view call = error.Call();
      if (!call.empty()) line += std::u16string(call.begin(), call.end()) + u", ";
      Print(line + u"error " + Decimal(error.Code()) + u")");
      return false;
    }
  }

  bool Plain(std::u16string_view what, const std::u16string& path) {
    if (IsPlainAbsolutePath(path)) return true;
    Print(Joined({what, u" is not a plain absolute path: ", Shown(path)}));
    return false;
  }

  // For each of kHostKeys, whether the per-user package set it: its default
  // value names a file right in the folder the package remembers. Prints a
  // line for each that it did; false when the registry could not be read.
  bool FindPackageKeys(std::vector<bool>& packages) {
    packages.assign(kHostKeys.size(), false);
    std::optional<std::u16string> folder;
    if (!Attempt(Joined({u"Could not read ", kHive, kPackageKey}),
                 [&] { folder = ReadString(std::u16string(kPackageKey), std::u16string(kPackageFolderValue)); }))
      return false;
    if (!folder || folder->empty()) return true;
    if (!folder->ends_with(u'\\')) *folder += u'\\';
    for (std::size_t i = 0; i < kHostKeys.size(); ++i) {
      const std::u16string path(kHostKeys[i].path);
      std::optional<std::u16string> manifest;
      if (!Attempt(Joined({u"Could not read ", kHive, path}), [&] { manifest = ReadString(path, u""); })) return false;
      packages[i] = manifest && AsciiStartsWithIgnoreCase(*manifest, *folder) &&
                    manifest->find(u'\\', folder->size()) == std::u16string::npos;
      if (packages[i])
        Print(Joined({kHive, path, u" is the per-user package's, installed in ", *folder, u": left as it is"}));
    }
    return true;
  }

  // A string value of a key under HKEY_CURRENT_USER; nothing when the key or
  // the value is missing or not text.
  std::optional<std::u16string> ReadString(const std::u16string& path, const std::u16string& name) {
    const std::unique_ptr<platform::RegistryKey> key = services_.registry.OpenCurrentUserKey(path);
    return key ? StringOf(key->Query(name)) : std::nullopt;
  }

  bool FindLocalAppData(std::u16string& localAppData) {
    return Attempt(u"Could not find the local application-data folder",
                   [&] { localAppData = services_.folders.LocalAppData(); }) &&
           Plain(u"The local application-data folder", localAppData);
  }

  // True when it made the folder; a folder already there is kept as it is.
  bool MakeFolder(const std::u16string& folder) {
    if (services_.files.DirectoryExists(folder)) return false;
    try {
      services_.files.MakeDirectory(folder);
      return true;
    } catch (const PlatformError& error) {
      // Made meanwhile by someone else; a file of that name still fails.
      if (error.Code() != platform::kErrorAlreadyExists || !services_.files.DirectoryExists(folder)) throw;
      return false;
    }
  }

  // Runs a removal: true when it removed something, false when there was
  // nothing to remove or it failed with one of the codes that leave it be.
  template <typename Remove>
  static bool RemovedIfThere(Remove&& remove, std::initializer_list<std::uint32_t> leftBe) {
    try {
      remove();
      return true;
    } catch (const PlatformError& error) {
      const std::uint32_t code = error.Code();
      if (code != platform::kErrorFileNotFound && code != platform::kErrorPathNotFound &&
          std::find(leftBe.begin(), leftBe.end(), code) == leftBe.end())
        throw;
      return false;
    }
  }

  static std::u16string ManifestPath(std::u16string_view localAppData, BrowserFamily family) {
    return Joined({HostFolder(localAppData), u"\\", ManifestFileName(family)});
  }

  const RegistrationServices& services_;
};

}  // namespace

HostArguments ParseHostArguments(std::u16string_view commandLine) {
  const std::vector<intake::ArgumentSpan> arguments = intake::SplitArgumentSpans(commandLine);
  HostArguments parsed;
  if (arguments.size() < 2) return parsed;
  const std::u16string& command = arguments[1].text;
  if (command == kUnregisterCommand) {
    parsed.command = HostCommand::Unregister;
    if (arguments.size() > 2)
      parsed.refusal = u"--unregister takes no arguments, but was given " + Shown(arguments[2].text);
    return parsed;
  }
  if (command != kRegisterCommand) return parsed;
  parsed.command = HostCommand::Register;
  for (std::size_t i = 2; i < arguments.size() && parsed.refusal.empty(); i += 2) {
    const std::u16string& option = arguments[i].text;
    const bool chromium = option == kChromiumIdOption;
    if (!chromium && option != kFirefoxIdOption) {
      parsed.refusal = u"Unknown argument " + Shown(option);
    } else if (i + 1 == arguments.size()) {
      parsed.refusal = option + u" needs an extension id after it";
    } else if (const std::u16string& id = arguments[i + 1].text;
               chromium ? !IsChromiumExtensionId(id) : !IsFirefoxExtensionId(id)) {
      parsed.refusal =
          chromium ? u"Not a Chromium extension id (32 letters a to p): " + Shown(id)
                   : u"Not a Firefox add-on id (an email-like id or a {GUID}, at most 80 characters): " + Shown(id);
    } else if (auto& ids = chromium ? parsed.chromiumIds : parsed.firefoxIds;
               std::find(ids.begin(), ids.end(), id) == ids.end()) {
      ids.push_back(id);
    }
  }
  if (parsed.chromiumIds.empty()) parsed.chromiumIds = DefaultChromiumExtensionIds();
  if (parsed.firefoxIds.empty()) parsed.firefoxIds.emplace_back(kDefaultFirefoxExtensionId);
  return parsed;
}

const std::vector<std::u16string>& DefaultChromiumExtensionIds() {
  static const std::vector<std::u16string> ids{ZYP_CHROMIUM_EXTENSION_IDS};
  return ids;
}

bool IsChromiumExtensionId(std::u16string_view id) {
  return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char16_t c) { return c >= u'a' && c <= u'p'; });
}

bool IsFirefoxExtensionId(std::u16string_view id) {
  if (id.empty() || id.size() > kMaxFirefoxExtensionIdLength) return false;
  if (id.front() == u'{') return IsGuidInBraces(id);
  const std::size_t at = id.find(u'@');
  if (at == std::u16string_view::npos || at + 1 == id.size()) return false;
  const std::u16string_view local = id.substr(0, at);
  const std::u16string_view domain = id.substr(at + 1);
  return std::all_of(local.begin(), local.end(), IsAddonIdCharacter) &&
         std::all_of(domain.begin(), domain.end(), IsAddonIdCharacter);
}

bool IsPlainAbsolutePath(std::u16string_view path) {
  if (!intake::IsWellFormedUtf16(path)) return false;
  const auto isLetter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  if (path.size() >= 3 && isLetter(path[0]) && path[1] == u':' && path[2] == u'\\')
    return path.size() == 3 || ArePlainNames(path.substr(3));
  // A UNC path names a server and a share; "\\?\" and "\\.\" fail here, as
  // "?" is refused and "." is no name.
  if (path.size() < 2 || path[0] != u'\\' || path[1] != u'\\') return false;
  const std::u16string_view rest = path.substr(2);
  const std::size_t server = rest.find(u'\\');
  return server != std::u16string_view::npos && ArePlainNames(rest);
}

std::u16string_view ManifestFileName(BrowserFamily family) {
  return family == BrowserFamily::Chromium ? u"com.tarvesk.zypqueue.chromium.json"
                                           : u"com.tarvesk.zypqueue.firefox.json";
}

std::string ManifestText(BrowserFamily family, std::u16string_view hostPath, const std::vector<std::u16string>& ids) {
  nlohmann::ordered_json manifest;
  manifest["name"] = intake::ToUtf8(kHostName);
  manifest["description"] = "ZYP download queue";
  manifest["path"] = intake::ToUtf8(hostPath);
  manifest["type"] = "stdio";
  nlohmann::ordered_json allowed = nlohmann::ordered_json::array();
  for (const std::u16string& id : ids)
    allowed.push_back(family == BrowserFamily::Chromium ? "chrome-extension://" + intake::ToUtf8(id) + "/"
                                                        : intake::ToUtf8(id));
  manifest[family == BrowserFamily::Chromium ? "allowed_origins" : "allowed_extensions"] = std::move(allowed);
  return manifest.dump(2) + "\n";
}

std::u16string VendorFolder(std::u16string_view localAppData) {
  // Only a drive's root ends with a backslash.
  return Joined({localAppData, localAppData.ends_with(u'\\') ? u"ZYP" : u"\\ZYP"});
}

std::u16string HostFolder(std::u16string_view localAppData) {
  return VendorFolder(localAppData) + u"\\NativeMessagingHosts";
}

int RunRegistration(const RegistrationServices& services, const HostArguments& arguments) {
  Registration registration(services);
  if (!arguments.refusal.empty()) {
    services.output.WriteLine(arguments.refusal);
    services.output.WriteLine(
        u"Usage: ZYPBrowserHost.exe --register [--chromium-extension-id ID]... [--firefox-extension-id ID]...");
    services.output.WriteLine(u"       ZYPBrowserHost.exe --unregister");
    return kRegistrationRefused;
  }
  return arguments.command == HostCommand::Register ? registration.Register(arguments) : registration.Unregister();
}

}  // namespace zyp::messaging
