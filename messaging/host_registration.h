#pragma once
// The host's registration for the current user: the two host manifests, which
// tell the browsers where the host is and which extensions may start it, and
// the registry keys through which each browser finds its manifest. Only the
// current user's hive and local application-data folder are ever written, and
// never a key that the per-user Windows Installer package set.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_output.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/user_folders.h"

namespace zyp::messaging {

inline constexpr std::u16string_view kHostName = u"com.tarvesk.zypqueue";
// The project's own extensions: the Chromium id follows from the public key in
// the extension's manifest; Firefox's id is the same in every copy.
inline constexpr std::u16string_view kDefaultChromiumExtensionId = u"bbfoidedccldpkpienckfkdpmffjbkbm";
inline constexpr std::u16string_view kDefaultFirefoxExtensionId = u"zyp-extension@tarvesk.com";
// Where the per-user package remembers the folder it installed into: the keys
// whose default value names a file in that folder are the package's.
inline constexpr std::u16string_view kPackageKey = u"Software\\Tarvesk Software\\ZYPQueueAddURL";
inline constexpr std::u16string_view kPackageFolderValue = u"InstallDir";
// Firefox refuses longer add-on ids.
inline constexpr std::size_t kMaxFirefoxExtensionIdLength = 80;

enum class HostCommand { Serve, Register, Unregister };

struct HostArguments {
  HostCommand command = HostCommand::Serve;
  // Register: the extensions that may start the host, per browser family,
  // each once and in the order given; DefaultChromiumExtensionIds() and the
  // project's own Firefox id when none is given.
  std::vector<std::u16string> chromiumIds;
  std::vector<std::u16string> firefoxIds;
  // Why the arguments after the command were refused, for its user; empty
  // when they were accepted.
  std::u16string refusal;
};

// What the raw command line asks for: "--register" or "--unregister" as the
// first argument after the program's own; anything else serves requests (a
// browser passes the caller's origin, or a manifest path and an add-on id).
HostArguments ParseHostArguments(std::u16string_view commandLine);

// The Chromium-family extensions that the build allows by default
// (ZYP_CHROMIUM_EXTENSION_IDS, by default the project's own): what the
// packages' manifests allow, and --register when it is given no ids.
const std::vector<std::u16string>& DefaultChromiumExtensionIds();

// Exactly 32 letters a to p, as Chromium makes an id from a key.
bool IsChromiumExtensionId(std::u16string_view id);
// A Firefox add-on id of at most kMaxFirefoxExtensionIdLength characters: a
// GUID in braces, or an email-like id (letters, digits, "-", "." and "_"
// around one "@", at least one of them after it).
bool IsFirefoxExtensionId(std::u16string_view id);

// "X:\..." or "\\server\share\...": well-formed UTF-16, no empty, "." or ".."
// parts, no control characters and none of " * : < > ? | past the drive.
// Nothing else goes into a manifest or names the folder that gets written.
bool IsPlainAbsolutePath(std::u16string_view path);

enum class BrowserFamily { Chromium, Firefox };

// The manifest's name in the host folder.
std::u16string_view ManifestFileName(BrowserFamily family);

// The manifest: JSON in UTF-8 without a byte-order mark, naming the host, its
// path and the extensions that may start it. The path is a plain absolute one
// for --register; the installer's manifests name the host beside them by its
// file name alone (installer/host_manifests.cpp).
std::string ManifestText(BrowserFamily family, std::u16string_view hostPath, const std::vector<std::u16string>& ids);

struct HostKey {
  std::u16string_view path;  // below HKEY_CURRENT_USER
  BrowserFamily family;      // whose manifest the key's default value names
};

// Chrome's key (read by most Chromium-family browsers too), Chromium's,
// Edge's and Firefox's. Their parents are shared with other hosts.
inline constexpr std::array<HostKey, 4> kHostKeys{{
    {u"Software\\Google\\Chrome\\NativeMessagingHosts\\com.tarvesk.zypqueue", BrowserFamily::Chromium},
    {u"Software\\Chromium\\NativeMessagingHosts\\com.tarvesk.zypqueue", BrowserFamily::Chromium},
    {u"Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.tarvesk.zypqueue", BrowserFamily::Chromium},
    {u"Software\\Mozilla\\NativeMessagingHosts\\com.tarvesk.zypqueue", BrowserFamily::Firefox},
}};

// "<local application data>\ZYP" and the host folder inside it, for a
// plain absolute path.
std::u16string VendorFolder(std::u16string_view localAppData);
std::u16string HostFolder(std::u16string_view localAppData);

struct RegistrationServices {
  platform::Registry& registry;
  platform::Files& files;
  platform::UserFolders& folders;
  platform::Process& process;  // for the host's own path
  platform::CommandOutput& output;
};

inline constexpr int kRegistrationDone = 0;
inline constexpr int kRegistrationFailed = 1;   // a system call failed: what and why was printed
inline constexpr int kRegistrationRefused = 2;  // bad arguments: nothing was touched
// The per-user package set the keys: Register wrote nothing, Unregister left
// them (and removed the rest); a line says so.
inline constexpr int kRegistrationLeftToPackage = 3;

// Carries out a Register or Unregister command and prints a line for each
// folder, file and key it wrote or removed. Register stops at the first
// failure; Unregister removes the keys first, so that no browser finds a
// manifest that is about to go, and goes on past a failure. Missing pieces
// are no failure, and a folder is removed only when it is empty. A key whose
// default value names a file in the folder that the per-user package
// remembers is the package's: Register then writes nothing, and Unregister
// leaves it, since the package takes it away when it is uninstalled.
int RunRegistration(const RegistrationServices& services, const HostArguments& arguments);

}  // namespace zyp::messaging
