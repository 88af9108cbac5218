// The Windows Installer packages as msiexec installs, upgrades and removes
// them, silently, in a Wine prefix of their own: the files with the bytes of
// the build, the keys through which each browser finds the host, the host
// found there and started as the browsers start it delivering to the stand-in
// queue manager, the installed programs list, and nothing of ours left after
// an uninstall; the same version made again replacing the installed one, and
// the per-user package beside the host's own --register.
#include <windows.h>

#include <gtest/gtest.h>
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/browser_host_driver.h"
#include "tests/e2e/harness.h"
#include "tests/support/registry_values.h"

namespace zyp::e2e {
namespace {

using Json = nlohmann::json;

constexpr wchar_t kVersion[] = ZYP_PRODUCT_VERSION;
constexpr wchar_t kOlderVersion[] = ZYP_OLDER_VERSION;
constexpr wchar_t kHostKey[] = L"\\NativeMessagingHosts\\com.tarvesk.zypqueue";
constexpr wchar_t kForeignHostKey[] = L"\\NativeMessagingHosts\\com.other.host";
constexpr wchar_t kRememberedKey[] = L"Software\\Tarvesk Software\\ZYPQueueAddURL";
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kFirefoxAddon[] = L"zyp-extension@tarvesk.com";
constexpr wchar_t kChromiumManifest[] = L"com.tarvesk.zypqueue.chromium.json";
constexpr wchar_t kFirefoxManifest[] = L"com.tarvesk.zypqueue.firefox.json";
// Blanks, brackets (which Windows Installer's formatted text gives a meaning)
// and an ampersand; without the closing "\", which the installer adds.
constexpr wchar_t kChosenFolder[] = L"C:\\Pelloran [Queue] & Co";
// The Chromium-family extension ids the build's manifests allow; the made
// again package's allow one more.
constexpr std::u16string_view kBuildChromiumIds[] = {ZYP_CHROMIUM_EXTENSION_IDS};
constexpr std::u16string_view kExtraChromiumId = ZYP_EXTRA_CHROMIUM_ID;
// What --register exits with when the per-user package owns the keys.
constexpr DWORD kLeftToPackage = 3;
// What a package installs, relative to its folder.
const std::wstring kInstalledFiles[] = {
    L"ZYPQueueAddURL.exe", L"ZYPBrowserHost.exe", L"README.md",
    L"docs\\protocol.md",  kChromiumManifest,     kFirefoxManifest,
};
// The vendor keys above the host's key, as --register writes them.
const std::wstring kVendorKeys[] = {L"Software\\Google\\Chrome", L"Software\\Chromium", L"Software\\Microsoft\\Edge",
                                    L"Software\\Mozilla"};

using View = testing::RegistryView;
using testing::KeyExists;
using testing::NumberValue;
using testing::OpenKey;
using testing::SetDefaultValue;
using testing::TextValue;
const View kUser = testing::kCurrentUser;
const View kMachine32{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "HKLM (32-bit view)"};
const View kMachine64{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "HKLM (64-bit view)"};
const View kAllViews[] = {kUser, kMachine32, kMachine64};

std::wstring Variable(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH] = {};
  const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return std::wstring(full, length);
}

// <build>\, above bin\: the packages are in installer\, what they install in
// installer\files\, the older version's in tests\installer\.
std::wstring BuildFolder() { return FullPath(BinFolder() + L"..\\"); }

// The system folder, with its "\".
std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length) + L"\\";
}

// A Windows Installer handle, closed when it goes.
class MsiObject {
 public:
  MsiObject() = default;
  ~MsiObject() {
    if (handle_ != 0) ::MsiCloseHandle(handle_);
  }
  MsiObject(const MsiObject&) = delete;
  MsiObject& operator=(const MsiObject&) = delete;
  MSIHANDLE* Out() { return &handle_; }
  MSIHANDLE Get() const { return handle_; }

 private:
  MSIHANDLE handle_ = 0;
};

// A package on disk and what its Property table says.
struct Package {
  std::wstring path;
  std::wstring productCode;
  std::wstring upgradeCode;
  std::wstring version;
  std::wstring files;                     // the folder of what it installs, with its "\"
  std::vector<std::wstring> chromiumIds;  // what its Chromium manifest allows
};

std::wstring PackageProperty(const std::wstring& package, const wchar_t* name) {
  MsiObject database;
  MsiObject view;
  MsiObject parameters;
  MsiObject record;
  if (::MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database.Out()) != ERROR_SUCCESS ||
      ::MsiDatabaseOpenViewW(database.Get(), L"SELECT `Value` FROM `Property` WHERE `Property` = ?", view.Out()) !=
          ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot read the package " << Utf8(package);
    return {};
  }
  *parameters.Out() = ::MsiCreateRecord(1);
  ::MsiRecordSetStringW(parameters.Get(), 1, name);
  if (::MsiViewExecute(view.Get(), parameters.Get()) != ERROR_SUCCESS ||
      ::MsiViewFetch(view.Get(), record.Out()) != ERROR_SUCCESS) {
    ADD_FAILURE() << Utf8(package) << " has no property " << Utf8(name);
    return {};
  }
  wchar_t value[256] = {};
  DWORD size = 256;
  ::MsiRecordGetStringW(record.Get(), 1, value, &size);
  return std::wstring(value, size);
}

Package ReadPackage(const std::wstring& path, const std::wstring& files, bool extraId = false) {
  std::vector<std::wstring> ids;
  for (const std::u16string_view id : kBuildChromiumIds) ids.emplace_back(id.begin(), id.end());
  if (extraId) ids.emplace_back(kExtraChromiumId.begin(), kExtraChromiumId.end());
  return {path,
          PackageProperty(path, L"ProductCode"),
          PackageProperty(path, L"UpgradeCode"),
          PackageProperty(path, L"ProductVersion"),
          files,
          ids};
}

std::wstring ProductInfo(const std::wstring& productCode, const wchar_t* property) {
  wchar_t value[1024] = {};
  DWORD size = 1024;
  if (::MsiGetProductInfoW(productCode.c_str(), property, value, &size) != ERROR_SUCCESS) return {};
  return std::wstring(value, size);
}

bool Installed(const Package& package) {
  return ::MsiQueryProductStateW(package.productCode.c_str()) == INSTALLSTATE_DEFAULT;
}

// The products installed under the package's upgrade code: its entries in
// the installed programs list.
std::vector<std::wstring> RelatedProducts(const Package& package) {
  std::vector<std::wstring> products;
  wchar_t product[39] = {};
  for (DWORD i = 0; ::MsiEnumRelatedProductsW(package.upgradeCode.c_str(), 0, i, product) == ERROR_SUCCESS; ++i)
    products.emplace_back(product);
  return products;
}

// The lines of a verbose log that say why an installation went as it did.
std::string LogExcerpt(const std::string& log) {
  std::string excerpt;
  std::size_t lines = 0;
  for (std::size_t start = 0; start < log.size() && lines < 40;) {
    const std::size_t end = std::min(log.find('\n', start), log.size());
    const std::string line = log.substr(start, end - start);
    for (const char* mark : {"rror", "Note:", "return value 3", "failed", "newer version"}) {
      if (line.find(mark) != std::string::npos) {
        excerpt += "    " + line + "\n";
        ++lines;
        break;
      }
    }
    start = end + 1;
  }
  return excerpt.empty() ? "    (the log says nothing of an error)\n" : excerpt;
}

struct MsiexecRun {
  DWORD exitCode = 0;
  std::string log;
};

// msiexec with the arguments, silent (/qn), writing a verbose log (/l*v),
// which it returns.
MsiexecRun Msiexec(const std::wstring& arguments) {
  const zyp::testing::ScratchFile log(L"msiexec.log", "");
  ChildProcess msiexec(SystemFolder() + L"msiexec.exe", arguments + L" /qn /l*v \"" + log.Path() + L"\"");
  const RunResult result = msiexec.Wait(120s);
  EXPECT_TRUE(result.finished) << "msiexec " << Utf8(arguments) << " still runs after two minutes";
  MsiexecRun run{result.exitCode, FileBytes(log.Path())};
  // A log written in UTF-16 reads the same with its zeros taken out.
  std::erase(run.log, '\0');
  EXPECT_FALSE(run.log.empty()) << "msiexec wrote no log";
  return run;
}

MsiexecRun Install(const Package& package, const std::wstring& properties = {}) {
  return Msiexec(L"/i \"" + package.path + L"\"" + (properties.empty() ? L"" : L" " + properties));
}

MsiexecRun Uninstall(const Package& package) { return Msiexec(L"/x \"" + package.path + L"\""); }

#define EXPECT_EXIT_CODE(run, code) \
  EXPECT_EQ((run).exitCode, static_cast<DWORD>(code)) << "from the log:\n" << LogExcerpt((run).log)
#define ASSERT_EXIT_CODE(run, code) \
  ASSERT_EQ((run).exitCode, static_cast<DWORD>(code)) << "from the log:\n" << LogExcerpt((run).log)

// The renames the system carries out at its next start, as (from, to) pairs
// in "\??\" paths; an empty "to" deletes.
std::vector<std::pair<std::wstring, std::wstring>> PendingRenames() {
  const View machine{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "HKLM"};
  const win32::UniqueHkey key = OpenKey(machine, L"System\\CurrentControlSet\\Control\\Session Manager");
  std::vector<wchar_t> list(65536);
  DWORD size = static_cast<DWORD>(list.size() * sizeof(wchar_t));
  if (!key || ::RegGetValueW(key.Get(), nullptr, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                             list.data(), &size) != ERROR_SUCCESS)
    return {};
  // Strings, each ending with its zero, and one zero more at the end.
  std::vector<std::wstring> strings;
  const std::size_t length = size / sizeof(wchar_t);
  for (std::size_t start = 0; length > 0 && start < length - 1;) {
    const std::wstring text(list.data() + start);
    strings.push_back(text);
    start += text.size() + 1;
  }
  std::vector<std::pair<std::wstring, std::wstring>> renames;
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) renames.emplace_back(strings[i], strings[i + 1]);
  return renames;
}

// The system's next start, which carries out the pending renames: what
// Windows does when it starts, Wine does with "wineboot --restart".
void NextStart() {
  const RunResult restart = RunProgram(SystemFolder() + L"wineboot.exe", L"--restart", {}, 60s);
  ASSERT_TRUE(restart.finished && restart.exitCode == 0) << "wineboot --restart: " << restart.exitCode;
  EXPECT_TRUE(PendingRenames().empty()) << "renames still pending after the restart";
}

// A host's manifest found as a browser finds it, and where it was found.
struct FoundManifest {
  std::wstring path;
  std::string where;
};

// As the browsers look a host up on Windows: the user's keys before the
// machine's, in each the 32-bit view before the 64-bit one (Chromium, and
// Firefox since 64), in each view the browser's vendor keys in order (a
// Chromium build looks under Chromium before Google\Chrome).
std::optional<FoundManifest> FindManifest(const std::vector<std::wstring>& vendorKeys) {
  for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      for (const std::wstring& vendor : vendorKeys) {
        const View at{root, view, ""};
        if (std::optional<std::wstring> path = TextValue(at, vendor + kHostKey, nullptr)) {
          return FoundManifest{*path, std::string(root == HKEY_CURRENT_USER ? "HKCU" : "HKLM") +
                                          (view == KEY_WOW64_32KEY ? " (32-bit view) " : " (64-bit view) ") +
                                          Utf8(vendor)};
        }
      }
    }
  }
  return std::nullopt;
}

// The host a manifest names: a relative path is taken from the manifest's
// folder, as both browsers do on Windows.
std::wstring HostOf(const std::wstring& manifestPath, const Json& manifest) {
  const std::wstring path = [&] {
    const std::string text = manifest.value("path", "");
    return std::wstring(text.begin(), text.end());  // ASCII: the file's name
  }();
  const bool absolute = path.size() > 2 && (path[1] == L':' || path.starts_with(L"\\\\"));
  return absolute ? path : manifestPath.substr(0, manifestPath.find_last_of(L'\\') + 1) + path;
}

Json ManifestAt(const std::wstring& path) { return Json::parse(FileBytes(path), nullptr, false); }

// A job as Firefox runs its hosts in: their processes end when it closes,
// and may break away from it.
win32::UniqueHandle FirefoxJob() {
  win32::UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  EXPECT_TRUE(::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
      << ::GetLastError();
  return job;
}

// Where an installation is and how it was made.
struct Installation {
  Package package;
  std::wstring folder;  // with its "\"
  bool perUser = false;
};

class InstallerTest : public ManagerFreeTest {
 protected:
  void SetUp() override {
    ManagerFreeTest::SetUp();
    const std::wstring build = BuildFolder();
    machine_ =
        ReadPackage(build + L"installer\\ZYPQueueAddURL-" + kVersion + L"-x64.msi", build + L"installer\\files\\");
    user_ = ReadPackage(build + L"installer\\ZYPQueueAddURL-" + kVersion + L"-x64-user.msi", machine_.files);
    older_ = ReadPackage(build + L"tests\\installer\\ZYPQueueAddURL-" + kOlderVersion + L"-x64.msi",
                         build + L"tests\\installer\\older\\");
    remade_ = ReadPackage(build + L"tests\\installer\\ZYPQueueAddURL-" + kVersion + L"-x64-user-remade.msi",
                          build + L"tests\\installer\\remade\\", true);
    for (const Package* package : {&machine_, &user_, &older_, &remade_})
      ASSERT_FALSE(Installed(*package)) << Utf8(package->path) << " is installed from elsewhere";
    // Each key the packages write, and every parent missing now, goes again.
    std::vector<std::wstring> keys = {kRememberedKey};
    for (const std::wstring& vendor : kVendorKeys) {
      keys.push_back(vendor + kHostKey);
      keys.push_back(vendor + kForeignHostKey);
    }
    for (const View& at : kAllViews) {
      for (const std::wstring& key : keys) {
        ASSERT_FALSE(KeyExists(at, key)) << at.name << "\\" << Utf8(key) << " exists from elsewhere";
        for (std::size_t slash = key.find(L'\\'); slash != std::wstring::npos; slash = key.find(L'\\', slash + 1)) {
          if (!KeyExists(at, key.substr(0, slash))) {
            madeKeys_.push_back({at, key.substr(0, slash)});
            break;
          }
        }
      }
    }
    ASSERT_FALSE(FolderExists(kChosenFolder)) << Utf8(kChosenFolder) << " exists: the test would take it away";
    ASSERT_FALSE(FolderExists(RegisterFolder())) << Utf8(RegisterFolder()) << " exists: the test would take it away";
    owned_ = true;
  }

  void TearDown() override {
    if (owned_) {
      // What a failed test left installed goes, by product code: its
      // package may be the one that failed.
      for (const Package* package : {&machine_, &user_, &older_, &remade_})
        if (Installed(*package)) Msiexec(L"/x " + package->productCode);
      for (const auto& [at, key] : madeKeys_) {
        HKEY parent = nullptr;
        const std::wstring above = key.substr(0, key.rfind(L'\\'));
        if (::RegOpenKeyExW(at.root, above.c_str(), 0, KEY_ALL_ACCESS | at.view, &parent) != ERROR_SUCCESS) continue;
        ::RegDeleteTreeW(parent, key.substr(above.size() + 1).c_str());
        ::RegCloseKey(parent);
      }
      std::error_code ignored;
      std::filesystem::remove_all(kChosenFolder, ignored);
      std::filesystem::remove_all(RegisterFolder(), ignored);
    }
    ManagerFreeTest::TearDown();
  }

  std::wstring DefaultFolder(bool perUser) const {
    return perUser ? Variable(L"LOCALAPPDATA") + L"\\Programs\\Tarvesk Software\\Pelloran\\"
                   : Variable(L"ProgramFiles") + L"\\Tarvesk Software\\Pelloran\\";
  }

  // Where --register writes its manifests.
  static std::wstring RegisterFolder() { return Variable(L"LOCALAPPDATA") + L"\\ZYP"; }

  static std::vector<View> Views(bool perUser) {
    return perUser ? std::vector<View>{kUser} : std::vector<View>{kMachine32, kMachine64};
  }

  // Another host registered under the same parents, before the package
  // writes its keys beside it.
  void RegisterForeignHosts(bool perUser) {
    for (const View& at : Views(perUser))
      for (const std::wstring& vendor : kVendorKeys) SetDefaultValue(at, vendor + kForeignHostKey, L"C:\\other.json");
  }

  // Every file with the bytes it was built with; the programs are those of
  // the build's own bin folder.
  void ExpectFiles(const Installation& at) {
    for (const std::wstring& file : kInstalledFiles)
      EXPECT_EQ(FileBytes(at.folder + file), FileBytes(at.package.files + file)) << Utf8(at.folder + file);
    if (at.package.files == machine_.files) {
      for (const wchar_t* program : {L"ZYPQueueAddURL.exe", L"ZYPBrowserHost.exe"})
        EXPECT_EQ(FileBytes(at.folder + program), FileBytes(BinFolder() + program)) << Utf8(program);
    }
  }

  // The keys, the remembered folder and the installed programs list.
  void ExpectRegistered(const Installation& at) {
    for (const View& view : Views(at.perUser)) {
      for (const std::wstring& vendor : kVendorKeys) {
        const wchar_t* manifest = vendor.ends_with(L"Mozilla") ? kFirefoxManifest : kChromiumManifest;
        EXPECT_EQ(TextValue(view, vendor + kHostKey, nullptr), at.folder + manifest)
            << view.name << " " << Utf8(vendor);
      }
    }
    for (const View& view : Views(!at.perUser))
      for (const std::wstring& vendor : kVendorKeys)
        EXPECT_FALSE(KeyExists(view, vendor + kHostKey)) << view.name << " " << Utf8(vendor) << ": not this scope's";
    EXPECT_EQ(TextValue(at.perUser ? kUser : kMachine64, kRememberedKey, L"InstallDir"), at.folder);

    EXPECT_TRUE(Installed(at.package));
    EXPECT_EQ(RelatedProducts(at.package), std::vector<std::wstring>{at.package.productCode}) << "one entry";
    EXPECT_EQ(ProductInfo(at.package.productCode, INSTALLPROPERTY_INSTALLEDPRODUCTNAME), L"ZYPQueueAddURL");
    EXPECT_EQ(ProductInfo(at.package.productCode, INSTALLPROPERTY_PUBLISHER), L"Tarvesk Software");
    EXPECT_EQ(ProductInfo(at.package.productCode, INSTALLPROPERTY_VERSIONSTRING), at.package.version);
    EXPECT_EQ(ProductInfo(at.package.productCode, INSTALLPROPERTY_INSTALLLOCATION), at.folder);
    // Wine lists per-user products with the machine's; Windows with the user's.
    const std::wstring entry = kUninstallKey + at.package.productCode;
    const View list = at.perUser && KeyExists(kUser, entry) ? kUser : kMachine64;
    EXPECT_EQ(NumberValue(list, entry, L"NoRepair"), 1u) << "a repair button";
    EXPECT_EQ(NumberValue(list, entry, L"NoModify"), 1u) << "a change button";
  }

  // Each browser finds the manifest beside the host, the manifest names the
  // host by its relative path, and the host started from there as Chromium
  // and as Firefox start it answers and delivers.
  void ExpectBrowsersReachTheHost(const Installation& at) {
    const std::string where = at.perUser ? "HKCU (32-bit view) " : "HKLM (32-bit view) ";
    const struct {
      std::vector<std::wstring> vendorKeys;
      const wchar_t* manifest;
      std::string foundUnder;
    } lookups[] = {
        {{L"Software\\Chromium", L"Software\\Google\\Chrome"}, kChromiumManifest, where + "Software\\Chromium"},
        {{L"Software\\Google\\Chrome"}, kChromiumManifest, where + "Software\\Google\\Chrome"},
        {{L"Software\\Microsoft\\Edge"}, kChromiumManifest, where + "Software\\Microsoft\\Edge"},
        {{L"Software\\Mozilla"}, kFirefoxManifest, where + "Software\\Mozilla"},
    };
    for (const auto& lookup : lookups) {
      const std::optional<FoundManifest> found = FindManifest(lookup.vendorKeys);
      ASSERT_TRUE(found) << "no manifest for " << Utf8(lookup.vendorKeys.front());
      EXPECT_EQ(found->where, lookup.foundUnder);
      EXPECT_EQ(found->path, at.folder + lookup.manifest);
      const Json manifest = ManifestAt(found->path);
      EXPECT_EQ(manifest.value("path", ""), "ZYPBrowserHost.exe");
      EXPECT_EQ(HostOf(found->path, manifest), at.folder + L"ZYPBrowserHost.exe");
      if (lookup.manifest == kChromiumManifest) {
        Json origins = Json::array();
        for (const std::wstring& id : at.package.chromiumIds) origins.push_back("chrome-extension://" + Utf8(id) + "/");
        EXPECT_EQ(manifest["allowed_origins"], origins) << "the extension ids given at build time";
      }
    }

    StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
    ASSERT_TRUE(manager.WaitReady());
    const std::wstring host = at.folder + L"ZYPBrowserHost.exe";
    // Started for the last extension the manifest allows.
    ExpectHostDelivers(ChromiumStart(host, L"chrome-extension://" + at.package.chromiumIds.back() + L"/"),
                       "http://chromium.example/" + Utf8(at.package.version) + ".zip");
    const win32::UniqueHandle job = FirefoxJob();
    ExpectHostDelivers(FirefoxStart(host, at.folder + kFirefoxManifest, kFirefoxAddon, job.Get()),
                       "http://firefox.example/" + Utf8(at.package.version) + ".zip");
  }

  // A host answers "status" and hands an "add" on to the running stand-in.
  void ExpectHostDelivers(const HostStart& start, const std::string& address) {
    BrowserHostProcess host(start, {journal_.Variable()});
    ASSERT_TRUE(host.Started()) << Utf8(start.program);
    ExpectDelivers(host, address);
    host.CloseInput();
    const RunResult end = host.Wait(15s);
    EXPECT_TRUE(end.finished && end.exitCode == 0) << "the host did not end cleanly: " << end.exitCode;
  }

  void ExpectDelivers(BrowserHostProcess& host, const std::string& address) {
    host.Send(R"({"type":"status","id":"status"})");
    host.Send(R"({"type":"add","id":"add","url":")" + address + R"("})");
    const std::vector<JsonValue> replies = host.Replies(2, 30s);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0]["manager"].AsText(), u"running");
    EXPECT_EQ(replies[1]["outcome"].AsText(), u"delivered");
    const std::u16string expected(address.begin(), address.end());
    EXPECT_TRUE(
        journal_.WaitFor("message", 10s, [&](const JsonValue& entry) { return entry["address"].AsText() == expected; }))
        << "the queue manager never got " << address;
  }

  // No file, folder or key of ours; the other host's keys beside ours, and
  // so their parents, are still there.
  void ExpectRemoved(const Installation& at, bool foreignHosts) {
    EXPECT_FALSE(Installed(at.package));
    EXPECT_TRUE(RelatedProducts(at.package).empty());
    for (const std::wstring& file : kInstalledFiles)
      EXPECT_FALSE(FileExists(at.folder + file)) << "left behind: " << Utf8(at.folder + file);
    EXPECT_FALSE(FolderExists(at.folder + L"docs"));
    if (at.folder == DefaultFolder(at.perUser)) {
      EXPECT_FALSE(FolderExists(at.folder)) << "left behind: " << Utf8(at.folder);
      EXPECT_FALSE(FolderExists(at.folder + L"..")) << "left behind: the vendor folder above " << Utf8(at.folder);
    }
    for (const View& view : kAllViews) {
      EXPECT_FALSE(KeyExists(view, kRememberedKey)) << view.name;
      for (const std::wstring& vendor : kVendorKeys) {
        EXPECT_FALSE(KeyExists(view, vendor + kHostKey)) << "left behind: " << view.name << "\\" << Utf8(vendor);
        if (foreignHosts && (view.root == HKEY_CURRENT_USER) == at.perUser) {
          EXPECT_EQ(TextValue(view, vendor + kForeignHostKey, nullptr), L"C:\\other.json") << view.name;
        }
      }
    }
    for (const View& view : {kUser, kMachine64}) EXPECT_FALSE(KeyExists(view, kUninstallKey + at.package.productCode));
  }

  Package machine_;
  Package user_;
  Package older_;
  Package remade_;
  std::vector<std::pair<View, std::wstring>> madeKeys_;
  bool owned_ = false;
};

TEST_F(InstallerTest, PerMachineInTheDefaultFolderInstalledTwiceAndRemovedAgain) {
  RegisterForeignHosts(false);
  const Installation at{machine_, DefaultFolder(false)};
  const MsiexecRun installed = Install(machine_);
  ASSERT_EXIT_CODE(installed, ERROR_SUCCESS);
  ExpectFiles(at);
  ExpectRegistered(at);
  ExpectBrowsersReachTheHost(at);
  // The very package again: its own version is in its upgrade's range, but
  // it must not take itself away.
  const MsiexecRun again = Install(machine_);
  EXPECT_EXIT_CODE(again, ERROR_SUCCESS);
  ExpectFiles(at);
  ExpectRegistered(at);

  const MsiexecRun removed = Uninstall(machine_);
  EXPECT_EXIT_CODE(removed, ERROR_SUCCESS);
  ExpectRemoved(at, true);
}

// The queue manager's own folder, as an admin chooses it: the package
// remembers it, so the uninstall, given no folder, finds it again and takes
// away exactly our files.
TEST_F(InstallerTest, PerMachineInAChosenFolderAndRemovedFromThere) {
  const std::wstring folder = std::wstring(kChosenFolder) + L"\\";
  ASSERT_TRUE(::CreateDirectoryW(kChosenFolder, nullptr));
  const std::wstring managersFile = folder + L"ZYPQueueManager.exe";
  ASSERT_TRUE(::CopyFileW((BinFolder() + L"ZYPQueueManager.exe").c_str(), managersFile.c_str(), TRUE));
  // A managed installation passes on only secure properties.
  const std::wstring secure = L";" + PackageProperty(machine_.path, L"SecureCustomProperties") + L";";
  EXPECT_NE(secure.find(L";INSTALLDIR;"), std::wstring::npos) << Utf8(secure);
  const Installation at{machine_, folder};
  const MsiexecRun installed = Install(machine_, L"INSTALLDIR=\"" + std::wstring(kChosenFolder) + L"\"");
  ASSERT_EXIT_CODE(installed, ERROR_SUCCESS);
  ExpectFiles(at);
  ExpectRegistered(at);
  ExpectBrowsersReachTheHost(at);
  {
    // With no queue manager running, the program starts the one in its own
    // folder, with the address: why it is installed there.
    BrowserHostProcess host(ChromiumStart(folder + L"ZYPBrowserHost.exe"), {journal_.Variable()});
    host.Send(R"({"type":"add","id":"add","url":"http://start.example/f.zip"})");
    const std::vector<JsonValue> replies = host.Replies(1, 30s);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0]["outcome"].AsText(), u"delivered");
    const std::vector<std::u16string> address{u"http://start.example/f.zip"};
    const std::optional<JsonValue> started =
        journal_.WaitFor("start", 10s, [&](const JsonValue& entry) { return entry["args"].AsTexts() == address; });
    ASSERT_TRUE(started) << journal_.Text();
    const std::wstring commandLine = L"\"" + managersFile + L"\" \"http://start.example/f.zip\"";
    EXPECT_EQ((*started)["command_line"].AsText(), std::u16string(commandLine.begin(), commandLine.end()));
    ASSERT_TRUE(CloseRunningManagers());
  }

  const MsiexecRun removed = Uninstall(machine_);
  EXPECT_EXIT_CODE(removed, ERROR_SUCCESS);
  ExpectRemoved(at, false);
  EXPECT_TRUE(FileExists(managersFile)) << "the queue manager's own file went too";
}

// A newer version over an older one, installed in a chosen folder while a
// browser runs the older host, and an older one over the newer.
TEST_F(InstallerTest, ANewerVersionReplacesAnOlderOneInPlaceAndAnOlderOneIsRefused) {
  const std::wstring folder = std::wstring(kChosenFolder) + L"\\";
  const MsiexecRun older = Install(older_, L"INSTALLDIR=\"" + std::wstring(kChosenFolder) + L"\"");
  ASSERT_EXIT_CODE(older, ERROR_SUCCESS);
  ExpectFiles({older_, folder});
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  std::optional<BrowserHostProcess> running(std::in_place, ChromiumStart(folder + L"ZYPBrowserHost.exe"),
                                            Environment{journal_.Variable()});
  ASSERT_TRUE(running->Started());
  running->Send(R"({"type":"status","id":"before"})");
  ASSERT_EQ(running->Replies(1, 30s).size(), 1u);

  // No folder given: the upgrade finds the older version's.
  const MsiexecRun upgrade = Install(machine_);
  const Installation at{machine_, folder};
  const std::wstring hostFile = folder + L"ZYPBrowserHost.exe";
  const std::string newHost = FileBytes(machine_.files + L"ZYPBrowserHost.exe");
  // Windows renames the running host's file away and puts the new one in its
  // place; Wine keeps it and writes the new bytes beside it to replace it at
  // the next start. Either way each file is whole, and a restart is due.
  const std::vector<std::pair<std::wstring, std::wstring>> pending = PendingRenames();
  const bool replacedLater = FileBytes(hostFile) != newHost;
  if (replacedLater) {
    EXPECT_EXIT_CODE(upgrade, ERROR_SUCCESS_REBOOT_REQUIRED);
    EXPECT_EQ(FileBytes(hostFile), FileBytes(older_.files + L"ZYPBrowserHost.exe")) << "the running host's file is cut";
    const auto rename = std::find_if(pending.begin(), pending.end(), [&](const auto& entry) {
      return ::CompareStringOrdinal(entry.second.c_str(), -1, (L"\\??\\" + hostFile).c_str(), -1, TRUE) == CSTR_EQUAL;
    });
    ASSERT_NE(rename, pending.end()) << "nothing will replace the running host's file";
    EXPECT_EQ(FileBytes(rename->first.substr(4)), newHost) << "the new host waits in a file that is not whole";
  } else {
    EXPECT_TRUE(upgrade.exitCode == ERROR_SUCCESS || upgrade.exitCode == ERROR_SUCCESS_REBOOT_REQUIRED)
        << upgrade.exitCode << "\n"
        << LogExcerpt(upgrade.log);
  }
  EXPECT_EQ(RelatedProducts(machine_), std::vector<std::wstring>{machine_.productCode}) << "one entry";
  for (const std::wstring& file : kInstalledFiles) {
    if (file == L"ZYPBrowserHost.exe") continue;
    EXPECT_EQ(FileBytes(folder + file), FileBytes(machine_.files + file)) << Utf8(file);
  }
  // The browser's host goes on and hands its requests to the new program.
  ExpectDelivers(*running, "http://upgrade.example/while-running.zip");
  running.reset();
  if (replacedLater) NextStart();
  manager.Stop();
  ExpectFiles(at);
  ExpectRegistered(at);
  ExpectBrowsersReachTheHost(at);

  const MsiexecRun downgrade = Install(older_);
  EXPECT_EXIT_CODE(downgrade, ERROR_INSTALL_FAILURE);
  EXPECT_NE(downgrade.log.find("WIX_DOWNGRADE_DETECTED = " + Utf8(machine_.productCode)), std::string::npos)
      << "the log does not name the newer version:\n"
      << LogExcerpt(downgrade.log);
  {
    // As a double-click runs it: the installer's own box says why.
    ChildProcess msiexec(SystemFolder() + L"msiexec.exe", L"/i \"" + older_.path + L"\"");
    const std::optional<Dialog> box = WaitForDialog(msiexec.Id(), 30s);
    ASSERT_TRUE(box) << "no box said why the older version was refused";
    EXPECT_EQ(box->text,
              L"A newer version of ZYPQueueAddURL is already installed. Uninstall it first to install "
              L"this version.");
    PressOk(*box);
    const RunResult refused = msiexec.Wait(30s);
    EXPECT_TRUE(refused.finished);
    EXPECT_EQ(refused.exitCode, static_cast<DWORD>(ERROR_INSTALL_FAILURE));
  }
  EXPECT_FALSE(Installed(older_));
  ExpectFiles(at);
  ExpectRegistered(at);

  const MsiexecRun removed = Uninstall(machine_);
  EXPECT_EXIT_CODE(removed, ERROR_SUCCESS);
  ExpectRemoved(at, false);
}

// The per-user package and --register write the same four keys of the user:
// while the package is installed they are its own, over what --register
// wrote before; --register and --unregister leave them and say so, and once
// the package is gone --register has them again. On the way, the same version
// made again with other files (changed programs, one more extension id)
// replaces the installed one, and its host answers for that id.
TEST_F(InstallerTest, PerUserBesideRegisterThroughTheSameVersionMadeAgainAndAnUninstall) {
  RegisterForeignHosts(true);
  const std::wstring programs = Variable(L"LOCALAPPDATA") + L"\\Programs";
  const bool programsThere = FolderExists(programs);
  const std::wstring chromeKey = std::wstring(L"Software\\Google\\Chrome") + kHostKey;
  const std::wstring registered = RegisterFolder() + L"\\NativeMessagingHosts\\" + kChromiumManifest;
  const std::wstring storeId(kExtraChromiumId.begin(), kExtraChromiumId.end());
  const OutputRun before = RunProgramWithOutput(kBrowserHostExe, L"--register --chromium-extension-id " + storeId);
  ASSERT_EQ(before.result.exitCode, 0u) << before.output;
  ASSERT_EQ(TextValue(kUser, chromeKey, nullptr), registered);

  const Installation at{user_, DefaultFolder(true), true};
  const MsiexecRun installed = Install(user_);
  ASSERT_EXIT_CODE(installed, ERROR_SUCCESS);
  ExpectFiles(at);
  ExpectRegistered(at);
  for (const View& view : {kMachine32, kMachine64}) EXPECT_FALSE(KeyExists(view, kRememberedKey)) << view.name;
  ExpectBrowsersReachTheHost(at);

  const std::wstring host = at.folder + L"ZYPBrowserHost.exe";
  const OutputRun refused = RunProgramWithOutput(host, L"--register --chromium-extension-id " + storeId);
  EXPECT_EQ(refused.result.exitCode, kLeftToPackage) << refused.output;
  EXPECT_NE(refused.output.find("Nothing was written: the per-user package registers the host"), std::string::npos)
      << refused.output;
  const OutputRun unregistered = RunProgramWithOutput(host, L"--unregister");
  EXPECT_EQ(unregistered.result.exitCode, kLeftToPackage) << unregistered.output;
  EXPECT_FALSE(FolderExists(RegisterFolder())) << "--register's own manifests stay";
  ExpectRegistered(at);

  const Installation remadeAt{remade_, at.folder, true};
  const MsiexecRun remade = Install(remade_);
  ASSERT_EXIT_CODE(remade, ERROR_SUCCESS);
  EXPECT_FALSE(Installed(user_)) << "the package made before is still registered";
  ExpectFiles(remadeAt);
  ExpectRegistered(remadeAt);
  ExpectBrowsersReachTheHost(remadeAt);

  const MsiexecRun removed = Uninstall(remade_);
  EXPECT_EXIT_CODE(removed, ERROR_SUCCESS);
  ExpectRemoved(remadeAt, true);
  EXPECT_EQ(FolderExists(programs), programsThere) << Utf8(programs);
  const OutputRun after = RunProgramWithOutput(kBrowserHostExe, L"--register");
  EXPECT_EQ(after.result.exitCode, 0u) << after.output;
  EXPECT_EQ(TextValue(kUser, chromeKey, nullptr), registered);
  const OutputRun cleared = RunProgramWithOutput(kBrowserHostExe, L"--unregister");
  EXPECT_EQ(cleared.result.exitCode, 0u) << cleared.output;
}

// The manifests the packages install are those --register writes, but for
// the host's path, which is relative to the manifest.
TEST_F(InstallerTest, ThePackagedManifestsAreWhatRegisterWritesWithARelativePath) {
  const OutputRun registered = RunProgramWithOutput(kBrowserHostExe, L"--register");
  ASSERT_EQ(registered.result.exitCode, 0u) << registered.output;
  const std::wstring folder = Variable(L"LOCALAPPDATA") + L"\\ZYP\\NativeMessagingHosts\\";
  const std::string hostPath = Json(Utf8(BinFolder() + kBrowserHostExe)).dump();
  for (const wchar_t* manifest : {kChromiumManifest, kFirefoxManifest}) {
    std::string expected = FileBytes(folder + manifest);
    const std::size_t at = expected.find(hostPath);
    ASSERT_NE(at, std::string::npos) << expected;
    expected.replace(at, hostPath.size(), R"("ZYPBrowserHost.exe")");
    EXPECT_EQ(FileBytes(machine_.files + manifest), expected) << Utf8(manifest);
  }
  const OutputRun unregistered = RunProgramWithOutput(kBrowserHostExe, L"--unregister");
  EXPECT_EQ(unregistered.result.exitCode, 0u) << unregistered.output;
}

}  // namespace
}  // namespace zyp::e2e
