#include "messaging/host_registration.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "intake/utf8.h"
#include "platform/error.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_registry.h"

namespace zyp::messaging {
namespace {

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

constexpr char16_t kHostExe[] = u"C:\\Program Files\\ZYP Ü\\ZYPBrowserHost.exe";
constexpr char16_t kLocalAppData[] = u"C:\\Users\\me\\AppData\\Local";
constexpr char16_t kVendor[] = u"C:\\Users\\me\\AppData\\Local\\ZYP";
constexpr char16_t kHosts[] = u"C:\\Users\\me\\AppData\\Local\\ZYP\\NativeMessagingHosts";
constexpr char16_t kChromiumManifest[] =
    u"C:\\Users\\me\\AppData\\Local\\ZYP\\NativeMessagingHosts\\com.tarvesk.zypqueue.chromium.json";
constexpr char16_t kFirefoxManifest[] =
    u"C:\\Users\\me\\AppData\\Local\\ZYP\\NativeMessagingHosts\\com.tarvesk.zypqueue.firefox.json";
constexpr char16_t kChromeKey[] = u"Software\\Google\\Chrome\\NativeMessagingHosts\\com.tarvesk.zypqueue";
constexpr char16_t kChromiumKey[] = u"Software\\Chromium\\NativeMessagingHosts\\com.tarvesk.zypqueue";
constexpr char16_t kEdgeKey[] = u"Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.tarvesk.zypqueue";
constexpr char16_t kMozillaKey[] = u"Software\\Mozilla\\NativeMessagingHosts\\com.tarvesk.zypqueue";
const std::u16string kIdA(32, u'a');
const std::u16string kIdP(32, u'p');

std::string Utf8(std::u16string_view text) { return intake::ToUtf8(text); }

// The host's own path, the user's folder and what the command prints.
class FakeUser : public platform::Process, public platform::UserFolders, public platform::CommandOutput {
 public:
  std::u16string hostPath = kHostExe;
  std::u16string localAppData = kLocalAppData;
  std::optional<PlatformError> moduleFileNameFails;
  std::optional<PlatformError> localAppDataFails;
  Lines lines;

  std::u16string CommandLine() override { return u"\"" + hostPath + u"\""; }
  std::u16string ModuleFileName() override {
    if (moduleFileNameFails) throw *moduleFileNameFails;
    return hostPath;
  }
  void Pause(std::uint32_t) override {}
  std::u16string LocalAppData() override {
    if (localAppDataFails) throw *localAppDataFails;
    return localAppData;
  }
  void WriteLine(std::u16string_view line) override { lines.push_back(Utf8(line)); }
};

// Public members: the failure cases arrange them from a table.
class HostRegistrationTest : public ::testing::Test {
 public:
  HostRegistrationTest() { files_.AddFolder(kLocalAppData); }

  // Runs the command line's command, with what it printed since the last run.
  int Run(const std::u16string& arguments) {
    user_.lines.clear();
    const HostArguments parsed = ParseHostArguments(u"\"" + user_.hostPath + u"\" " + arguments);
    EXPECT_NE(parsed.command, HostCommand::Serve) << Utf8(arguments);
    const int exitCode = RunRegistration({registry_, files_, user_, user_, user_}, parsed);
    EXPECT_EQ(registry_.openKeys, 0) << "a key was left open";
    return exitCode;
  }
  Json Manifest(const std::u16string& path) const {
    const std::string& bytes = files_.Content(path);
    EXPECT_NE(bytes.rfind("\xEF\xBB\xBF", 0), 0u) << "a byte-order mark";
    return Json::parse(bytes);
  }
  // Where each of the four keys points, or "-" for a missing key or value.
  Lines KeyValues() const {
    Lines values;
    for (const char16_t* key : {kChromeKey, kChromiumKey, kEdgeKey, kMozillaKey})
      values.push_back(Utf8(registry_.GetString(key, u"").value_or(u"-")));
    return values;
  }
  bool NothingRegistered() const {
    return KeyValues() == Lines(4, "-") && !files_.HasFile(kChromiumManifest) && !files_.HasFile(kFirefoxManifest);
  }

  fakes::FakeRegistry registry_;
  fakes::FakeFiles files_;
  FakeUser user_;
};

TEST(HostArguments, OnlyAFirstArgumentThatIsACommandLeavesServing) {
  for (const char16_t* commandLine :
       {u"\"C:\\ZYP\\ZYPBrowserHost.exe\"",
        u"\"C:\\ZYP\\ZYPBrowserHost.exe\" chrome-extension://abc/ --parent-window=0",
        u"ZYPBrowserHost.exe C:\\m.json zyp-extension@tarvesk.com", u"ZYPBrowserHost.exe --REGISTER",
        u"ZYPBrowserHost.exe chrome-extension://abc/ --register"}) {
    const HostArguments parsed = ParseHostArguments(commandLine);
    EXPECT_EQ(parsed.command, HostCommand::Serve) << Utf8(commandLine);
    EXPECT_EQ(parsed.refusal, u"") << Utf8(commandLine);
  }
}

TEST(HostArguments, GivenIdsReplaceTheirFamilysDefaultInOrderEachOnce) {
  const HostArguments defaults = ParseHostArguments(u"host --register");
  EXPECT_EQ(defaults.command, HostCommand::Register);
  EXPECT_EQ(defaults.chromiumIds, DefaultChromiumExtensionIds());
  EXPECT_EQ(defaults.firefoxIds, std::vector<std::u16string>{u"zyp-extension@tarvesk.com"});

  const HostArguments chromium =
      ParseHostArguments(u"host --register --chromium-extension-id " + kIdP + u" \"--chromium-extension-id\" " + kIdA +
                         u" --chromium-extension-id " + kIdP);
  EXPECT_EQ(chromium.refusal, u"");
  EXPECT_EQ(chromium.chromiumIds, (std::vector<std::u16string>{kIdP, kIdA}));
  EXPECT_EQ(chromium.firefoxIds, std::vector<std::u16string>{u"zyp-extension@tarvesk.com"});

  const HostArguments firefox = ParseHostArguments(
      u"host --register --firefox-extension-id {DAF44BF7-a45e-4450-979c-91cf07434c3d} "
      u"--firefox-extension-id @addon_1.example");
  EXPECT_EQ(firefox.refusal, u"");
  EXPECT_EQ(firefox.chromiumIds, DefaultChromiumExtensionIds());
  EXPECT_EQ(firefox.firefoxIds,
            (std::vector<std::u16string>{u"{DAF44BF7-a45e-4450-979c-91cf07434c3d}", u"@addon_1.example"}));

  EXPECT_EQ(ParseHostArguments(u"host --unregister").command, HostCommand::Unregister);
}

TEST(HostArguments, BadArgumentsAreRefusedSayingWhy) {
  struct Case {
    std::u16string arguments;
    std::string refusal;  // the refusal starts with this
  };
  const std::vector<Case> cases = {
      {u"--register --chromium-extension-id", "--chromium-extension-id needs an extension id"},
      {u"--register --firefox-extension-id", "--firefox-extension-id needs an extension id"},
      {u"--register --chromium-extension-id " + std::u16string(31, u'a'), "Not a Chromium extension id"},
      {u"--register --chromium-extension-id " + std::u16string(32, u'A'), "Not a Chromium extension id"},
      {u"--register --chromium-extension-id " + std::u16string(31, u'a') + u"q", "Not a Chromium extension id"},
      {u"--register --chromium-extension-id chrome-extension://" + kIdA + u"/", "Not a Chromium extension id"},
      {u"--register --firefox-extension-id zyp-extension", "Not a Firefox add-on id"},
      {u"--register --firefox-extension-id zyp@", "Not a Firefox add-on id"},
      {u"--register --firefox-extension-id a@b@c", "Not a Firefox add-on id"},
      {u"--register --firefox-extension-id \"a b@c\"", "Not a Firefox add-on id"},
      {u"--register --firefox-extension-id \"a\\\"@c\"", "Not a Firefox add-on id"},
      {u"--register --firefox-extension-id {daf44bf7-a45e-4450-979c-91cf07434c3}", "Not a Firefox add-on id"},
      {u"--register --firefox-extension-id a@" + std::u16string(79, u'b'), "Not a Firefox add-on id"},
      {u"--register --verbose", "Unknown argument \"--verbose\""},
      {u"--register \"--chromium-extension-id \"", "Unknown argument \"--chromium-extension-id \""},
      {u"--register --chromium-extension-id " + kIdA + u" extra", "Unknown argument \"extra\""},
      {u"--unregister --chromium-extension-id " + kIdA, "--unregister takes no arguments"},
  };
  for (const Case& c : cases) {
    const HostArguments parsed = ParseHostArguments(u"host " + c.arguments);
    EXPECT_NE(parsed.command, HostCommand::Serve) << Utf8(c.arguments);
    EXPECT_EQ(Utf8(parsed.refusal).rfind(c.refusal, 0), 0u) << Utf8(c.arguments) << " -> " << Utf8(parsed.refusal);
  }
  // The longest id Firefox takes passes.
  EXPECT_TRUE(IsFirefoxExtensionId(u"a@" + std::u16string(78, u'b')));
  // What a refusal echoes cannot move the console's cursor, nor run on.
  const std::u16string echoed =
      ParseHostArguments(u"host --register \"\x1b[2J\r\n" + std::u16string(500, u'x') + u"\"").refusal;
  EXPECT_EQ(echoed.find_first_of(u"\x1b\r\n"), std::u16string::npos);
  EXPECT_LT(echoed.size(), 200u);
}

TEST(HostRegistration, OnlyPlainAbsolutePathsAreWritten) {
  for (const char16_t* path : {u"C:\\", u"C:\\Users\\me\\AppData\\Local", u"d:\\ZYP Ü\\x.exe",
                               u"\\\\server\\share\\users\\me", u"C:\\a\\b \\\U0001F600.exe"})
    EXPECT_TRUE(IsPlainAbsolutePath(path)) << Utf8(path);
  for (const std::u16string path :
       {u"", u"AppData\\Local", u"\\Users\\me", u"C:Users", u"C:/Users/me", u"C:\\Users\\", u"C:\\a\\\\b",
        u"C:\\a\\..\\b", u"C:\\a\\.\\b", u"C:\\a\\b.json:stream", u"C:\\a\"b", u"C:\\a\nb", u"\\\\?\\C:\\Users",
        u"\\\\.\\pipe\\x", u"\\\\server", u"\\\\server\\", u"C:\\a\xD800"})
    EXPECT_FALSE(IsPlainAbsolutePath(path)) << Utf8(path);
}

TEST(HostRegistration, ManifestsNameTheHostItsPathAndTheAllowedExtensions) {
  const std::string chromium = ManifestText(BrowserFamily::Chromium, kHostExe, {kIdA, kIdP});
  // Backslashes escaped, the rest of the path in UTF-8 as it is.
  EXPECT_NE(chromium.find(R"("C:\\Program Files\\ZYP )"
                          "\xC3\x9C"
                          R"(\\ZYPBrowserHost.exe")"),
            std::string::npos)
      << chromium;
  EXPECT_EQ(Json::parse(chromium), Json::parse(R"({"name":"com.tarvesk.zypqueue","description":"ZYP download queue",
      "path":"C:\\Program Files\\ZYP \u00dc\\ZYPBrowserHost.exe","type":"stdio",
      "allowed_origins":["chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/",
                         "chrome-extension://pppppppppppppppppppppppppppppppp/"]})"));
  EXPECT_EQ(Json::parse(ManifestText(BrowserFamily::Firefox, u"\\\\srv\\apps\\ZYPBrowserHost.exe",
                                     {u"zyp-extension@tarvesk.com"})),
            Json::parse(R"({"name":"com.tarvesk.zypqueue","description":"ZYP download queue",
      "path":"\\\\srv\\apps\\ZYPBrowserHost.exe","type":"stdio",
      "allowed_extensions":["zyp-extension@tarvesk.com"]})"));
}

TEST_F(HostRegistrationTest, RegisterWritesBothManifestsAndPointsTheFourKeysAtThemAgainAndAgain) {
  const Lines firstRun = {
      "Created the folder C:\\Users\\me\\AppData\\Local\\ZYP",
      "Created the folder C:\\Users\\me\\AppData\\Local\\ZYP\\NativeMessagingHosts",
      "Wrote " + Utf8(kChromiumManifest),
      "Wrote " + Utf8(kFirefoxManifest),
      "Set HKEY_CURRENT_USER\\" + Utf8(kChromeKey) + " to " + Utf8(kChromiumManifest),
      "Set HKEY_CURRENT_USER\\" + Utf8(kChromiumKey) + " to " + Utf8(kChromiumManifest),
      "Set HKEY_CURRENT_USER\\" + Utf8(kEdgeKey) + " to " + Utf8(kChromiumManifest),
      "Set HKEY_CURRENT_USER\\" + Utf8(kMozillaKey) + " to " + Utf8(kFirefoxManifest),
  };
  const Lines pointed = {Utf8(kChromiumManifest), Utf8(kChromiumManifest), Utf8(kChromiumManifest),
                         Utf8(kFirefoxManifest)};
  EXPECT_EQ(Run(u"--register"), kRegistrationDone);
  EXPECT_EQ(user_.lines, firstRun);
  EXPECT_EQ(KeyValues(), pointed);
  Json defaultOrigins = Json::array();
  for (const std::u16string& id : DefaultChromiumExtensionIds())
    defaultOrigins.push_back("chrome-extension://" + Utf8(id) + "/");
  EXPECT_EQ(Manifest(kChromiumManifest)["allowed_origins"], defaultOrigins);
  EXPECT_EQ(Manifest(kChromiumManifest)["path"], Utf8(kHostExe));
  EXPECT_EQ(Manifest(kFirefoxManifest)["allowed_extensions"], Json::array({"zyp-extension@tarvesk.com"}));
  EXPECT_EQ(Manifest(kFirefoxManifest)["path"], Utf8(kHostExe));

  // Once more, with other ids: the same places, the new ids, no folder made.
  EXPECT_EQ(Run(u"--register --chromium-extension-id " + kIdA + u" --chromium-extension-id " + kIdP), 0);
  EXPECT_EQ(user_.lines, Lines(firstRun.begin() + 2, firstRun.end()));
  EXPECT_EQ(KeyValues(), pointed);
  EXPECT_EQ(Manifest(kChromiumManifest)["allowed_origins"],
            Json::array({"chrome-extension://" + Utf8(kIdA) + "/", "chrome-extension://" + Utf8(kIdP) + "/"}));
  EXPECT_EQ(Manifest(kFirefoxManifest)["allowed_extensions"], Json::array({"zyp-extension@tarvesk.com"}));
  EXPECT_EQ(files_.FilePaths().size(), 2u);
  EXPECT_EQ(registry_.keys.at(u"software\\mozilla\\nativemessaginghosts\\com.tarvesk.zypqueue").size(), 1u)
      << "only the default value";
}

TEST_F(HostRegistrationTest, UnregisterRemovesExactlyWhatRegisterWrote) {
  // Another host's key beside ours, under a parent that stays.
  registry_.SetString(u"Software\\Google\\Chrome\\NativeMessagingHosts\\com.other.host", u"", u"C:\\other.json");
  ASSERT_EQ(Run(u"--register"), kRegistrationDone);
  ASSERT_EQ(Run(u"--unregister"), kRegistrationDone);
  EXPECT_EQ(user_.lines, (Lines{
                             "Removed HKEY_CURRENT_USER\\" + Utf8(kChromeKey),
                             "Removed HKEY_CURRENT_USER\\" + Utf8(kChromiumKey),
                             "Removed HKEY_CURRENT_USER\\" + Utf8(kEdgeKey),
                             "Removed HKEY_CURRENT_USER\\" + Utf8(kMozillaKey),
                             "Removed " + Utf8(kChromiumManifest),
                             "Removed " + Utf8(kFirefoxManifest),
                             "Removed the folder " + Utf8(kHosts),
                             "Removed the folder " + Utf8(kVendor),
                         }));
  EXPECT_TRUE(NothingRegistered());
  EXPECT_FALSE(files_.HasFolder(kVendor));
  EXPECT_TRUE(files_.HasFolder(kLocalAppData));
  for (const char16_t* parent : {u"Software\\Google\\Chrome\\NativeMessagingHosts", u"Software\\Chromium",
                                 u"Software\\Microsoft\\Edge\\NativeMessagingHosts", u"Software\\Mozilla"})
    EXPECT_TRUE(registry_.HasKey(parent)) << Utf8(parent);
  EXPECT_EQ(registry_.GetString(u"Software\\Google\\Chrome\\NativeMessagingHosts\\com.other.host", u""),
            u"C:\\other.json");

  // Nothing left to remove is no failure.
  EXPECT_EQ(Run(u"--unregister"), kRegistrationDone);
  EXPECT_EQ(user_.lines, Lines{"Nothing was registered."});
}

// The per-user package points the four keys at the manifests in the folder it
// remembers, over what --register wrote; while it is installed, the keys are
// its own: neither command touches them, and each says so.
TEST_F(HostRegistrationTest, ThePerUserPackagesKeysAreLeftToIt) {
  constexpr char16_t kPackageFolder[] = u"C:\\Users\\me\\AppData\\Local\\Programs\\Tarvesk Software\\Pelloran\\";
  const auto installPackage = [&](const std::u16string& remembered) {
    registry_.SetString(std::u16string(kPackageKey), u"InstallDir", remembered);
    for (const char16_t* key : {kChromeKey, kChromiumKey, kEdgeKey})
      registry_.SetString(key, u"", std::u16string(kPackageFolder) + u"com.tarvesk.zypqueue.chromium.json");
    registry_.SetString(kMozillaKey, u"", std::u16string(kPackageFolder) + u"com.tarvesk.zypqueue.firefox.json");
  };
  const Lines packagesKeys = {Utf8(kPackageFolder) + "com.tarvesk.zypqueue.chromium.json",
                              Utf8(kPackageFolder) + "com.tarvesk.zypqueue.chromium.json",
                              Utf8(kPackageFolder) + "com.tarvesk.zypqueue.chromium.json",
                              Utf8(kPackageFolder) + "com.tarvesk.zypqueue.firefox.json"};
  Lines leftLines;
  for (const char16_t* key : {kChromeKey, kChromiumKey, kEdgeKey, kMozillaKey})
    leftLines.push_back("HKEY_CURRENT_USER\\" + Utf8(key) + " is the per-user package's, installed in " +
                        Utf8(kPackageFolder) + ": left as it is");

  // Registered first, then the package installed over it.
  ASSERT_EQ(Run(u"--register --chromium-extension-id " + kIdA), kRegistrationDone);
  installPackage(kPackageFolder);
  EXPECT_EQ(Run(u"--register --chromium-extension-id " + kIdP), kRegistrationLeftToPackage);
  Lines expected = leftLines;
  expected.push_back(
      "Nothing was written: the per-user package registers the host for this user, with the extension ids it was "
      "built with. Uninstall it to register this host instead.");
  EXPECT_EQ(user_.lines, expected);
  EXPECT_EQ(KeyValues(), packagesKeys);
  EXPECT_EQ(Manifest(kChromiumManifest)["allowed_origins"], Json::array({"chrome-extension://" + Utf8(kIdA) + "/"}))
      << "rewritten";

  // --unregister takes its own files and leaves the package's keys.
  EXPECT_EQ(Run(u"--unregister"), kRegistrationLeftToPackage);
  expected = leftLines;
  for (const std::string& line :
       {"Removed " + Utf8(kChromiumManifest), "Removed " + Utf8(kFirefoxManifest), "Removed the folder " + Utf8(kHosts),
        "Removed the folder " + Utf8(kVendor),
        std::string("The per-user package's keys stay: uninstalling the package takes them away.")})
    expected.push_back(line);
  EXPECT_EQ(user_.lines, expected);
  EXPECT_EQ(KeyValues(), packagesKeys);
  EXPECT_EQ(Run(u"--unregister"), kRegistrationLeftToPackage);

  // The folder as the package remembers it: another case, no final "\".
  std::u16string remembered(kPackageFolder);
  for (char16_t& c : remembered) c = (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  remembered.pop_back();
  installPackage(remembered);
  EXPECT_EQ(Run(u"--register"), kRegistrationLeftToPackage);
  EXPECT_FALSE(files_.HasFile(kChromiumManifest));

  // Keys that name a file elsewhere, even below the package's folder, are
  // not the package's: --register takes them as before.
  for (const char16_t* key : {kChromeKey, kChromiumKey, kEdgeKey, kMozillaKey})
    registry_.SetString(key, u"", std::u16string(kPackageFolder) + u"docs\\other.json");
  EXPECT_EQ(Run(u"--register"), kRegistrationDone);
  EXPECT_EQ(KeyValues(),
            (Lines{Utf8(kChromiumManifest), Utf8(kChromiumManifest), Utf8(kChromiumManifest), Utf8(kFirefoxManifest)}));
  EXPECT_EQ(Run(u"--unregister"), kRegistrationDone);
  EXPECT_TRUE(NothingRegistered());
}

TEST_F(HostRegistrationTest, UnregisterKeepsFoldersThatHoldOtherFiles) {
  ASSERT_EQ(Run(u"--register"), kRegistrationDone);
  files_.AddFile(kVendor + std::u16string(u"\\settings.ini"), "x");
  ASSERT_EQ(Run(u"--unregister"), kRegistrationDone);
  EXPECT_TRUE(NothingRegistered());
  EXPECT_FALSE(files_.HasFolder(kHosts));
  EXPECT_TRUE(files_.HasFile(kVendor + std::u16string(u"\\settings.ini")));
  EXPECT_EQ(user_.lines.back(), "Removed the folder " + Utf8(kHosts));

  ASSERT_EQ(Run(u"--register"), kRegistrationDone);
  files_.AddFile(kHosts + std::u16string(u"\\com.other.host.json"), "{}");
  ASSERT_EQ(Run(u"--unregister"), kRegistrationDone);
  EXPECT_TRUE(NothingRegistered());
  EXPECT_TRUE(files_.HasFile(kHosts + std::u16string(u"\\com.other.host.json")));
  EXPECT_EQ(user_.lines.back(), "Removed " + Utf8(kFirefoxManifest));
}

TEST_F(HostRegistrationTest, UnregisterGoesOnPastAFailureAndReportsIt) {
  ASSERT_EQ(Run(u"--register"), kRegistrationDone);
  // Someone else's subkey under ours: the key is not ours alone to remove.
  registry_.AddKey(kEdgeKey + std::u16string(u"\\extra"));
  EXPECT_EQ(Run(u"--unregister"), kRegistrationFailed);
  EXPECT_EQ(user_.lines[2],
            "Could not remove HKEY_CURRENT_USER\\" + Utf8(kEdgeKey) + ": Access denied (RegDeleteKeyW, error 5)");
  EXPECT_EQ(KeyValues(), (Lines{"-", "-", Utf8(kChromiumManifest), "-"}));
  EXPECT_FALSE(files_.HasFolder(kVendor));
}

TEST_F(HostRegistrationTest, RefusedArgumentsTouchNothing) {
  EXPECT_EQ(Run(u"--register --chromium-extension-id " + kIdA + u" --firefox-extension-id nope"), kRegistrationRefused);
  ASSERT_EQ(user_.lines.size(), 3u);
  EXPECT_EQ(user_.lines[0], "Not a Firefox add-on id (an email-like id or a {GUID}, at most 80 characters): \"nope\"");
  EXPECT_EQ(user_.lines[1].rfind("Usage: ZYPBrowserHost.exe --register", 0), 0u);
  EXPECT_EQ(Run(u"--unregister now"), kRegistrationRefused);
  EXPECT_TRUE(files_.log.empty());
  EXPECT_EQ(registry_.opens, 0);
  EXPECT_TRUE(registry_.keys.empty());
}

TEST_F(HostRegistrationTest, RegisterStopsAtTheFirstFailureAndSaysWhatAndWhy) {
  struct Case {
    const char* name;
    std::function<void(HostRegistrationTest&)> arrange;
    std::string lastLine;
    bool filesWritten;
  };
  const std::vector<Case> cases = {
      {"no own path",
       [](HostRegistrationTest& t) {
         t.user_.moduleFileNameFails =
             PlatformError(122, u"The data area passed to a system call is too small.", "GetModuleFileNameW");
       },
       "Could not find the host's own path: The data area passed to a system call is too small. "
       "(GetModuleFileNameW, error 122)",
       false},
      {"own path through a device name",
       [](HostRegistrationTest& t) { t.user_.hostPath = u"\\\\?\\C:\\ZYP\\ZYPBrowserHost.exe"; },
       "The host's own path is not a plain absolute path: \"\\\\?\\C:\\ZYP\\ZYPBrowserHost.exe\"", false},
      {"no folder",
       [](HostRegistrationTest& t) {
         t.user_.localAppDataFails = PlatformError(2, u"The system cannot find the file specified.", "");
       },
       "Could not find the local application-data folder: The system cannot find the file specified. (error 2)", false},
      {"relative folder", [](HostRegistrationTest& t) { t.user_.localAppData = u"AppData\\Local"; },
       "The local application-data folder is not a plain absolute path: \"AppData\\Local\"", false},
      {"a file in the folder's place", [](HostRegistrationTest& t) { t.files_.AddFile(kHosts, "not a folder"); },
       "Could not create the folder " + Utf8(kHosts) +
           ": Cannot create a file when that file already exists. (CreateDirectoryW, error 183)",
       false},
      {"folder refuses files",
       [](HostRegistrationTest& t) {
         t.files_.AddFolder(kHosts);
         t.files_.DenyChanges(kHosts);
       },
       "Could not write " + Utf8(kChromiumManifest) + ": Access is denied. (CreateFileW, error 5)", false},
      {"registry refuses", [](HostRegistrationTest& t) { t.registry_.refuseWrites = true; },
       "Could not set HKEY_CURRENT_USER\\" + Utf8(kChromeKey) + ": Access denied (RegCreateKeyExW, error 5)", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostRegistrationTest& t = *this;
    t.registry_ = {};
    t.files_ = {};
    t.files_.AddFolder(kLocalAppData);
    t.user_ = {};
    c.arrange(t);
    EXPECT_EQ(Run(u"--register"), kRegistrationFailed);
    ASSERT_FALSE(user_.lines.empty());
    EXPECT_EQ(user_.lines.back(), c.lastLine);
    EXPECT_EQ(files_.HasFile(kChromiumManifest), c.filesWritten);
    EXPECT_EQ(KeyValues(), Lines(4, "-"));
  }
}

}  // namespace
}  // namespace zyp::messaging
