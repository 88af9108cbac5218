// ZYPBrowserHost.exe --register and --unregister, run as the real program:
// the current user's four keys, the two manifests in the user's local
// application-data folder, what the program prints and its exit codes. Each
// test starts with nothing registered and takes away whatever the runs made,
// the parent keys and folders included.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scope_exit.h"
#include "platform/win32/scoped_handle.h"
#include "tests/e2e/harness.h"
#include "tests/support/registry_values.h"

namespace zyp::e2e {
namespace {

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

constexpr wchar_t kHostExe[] = L"ZYPBrowserHost.exe";
// Chrome's, Chromium's and Edge's keys name the Chromium manifest, Firefox's
// the other one.
const std::wstring kKeys[] = {
    L"Software\\Google\\Chrome\\NativeMessagingHosts\\com.tarvesk.zypqueue",
    L"Software\\Chromium\\NativeMessagingHosts\\com.tarvesk.zypqueue",
    L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.tarvesk.zypqueue",
    L"Software\\Mozilla\\NativeMessagingHosts\\com.tarvesk.zypqueue",
};
constexpr char kDefaultAddon[] = "zyp-extension@tarvesk.com";

// The origins of the extensions the build allows by default.
Json DefaultOrigins() {
  Json origins = Json::array();
  for (const std::u16string_view id : {ZYP_CHROMIUM_EXTENSION_IDS})
    origins.push_back("chrome-extension://" + std::string(id.begin(), id.end()) + "/");
  return origins;
}

bool KeyExists(const std::wstring& path) { return testing::KeyExists(testing::kCurrentUser, path); }

// The key's default value when it is text.
std::optional<std::wstring> DefaultValue(const std::wstring& path) {
  return testing::TextValue(testing::kCurrentUser, path, nullptr);
}

// The printed lines; each must end with CR LF.
Lines LinesOf(const std::string& output) {
  Lines lines;
  for (std::size_t start = 0; start < output.size();) {
    const std::size_t end = output.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "a line without its CR LF: " << output.substr(start);
      break;
    }
    lines.push_back(output.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

class RegistrationCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH) << "LOCALAPPDATA names no folder";
    vendor_ = std::wstring(folder, length) + L"\\ZYP";
    hosts_ = vendor_ + L"\\NativeMessagingHosts";
    chromiumManifest_ = hosts_ + L"\\com.tarvesk.zypqueue.chromium.json";
    firefoxManifest_ = hosts_ + L"\\com.tarvesk.zypqueue.firefox.json";
    for (const std::wstring& key : kKeys) ASSERT_FALSE(KeyExists(key)) << "registered from elsewhere: " << Utf8(key);
    ASSERT_FALSE(FolderExists(vendor_)) << Utf8(vendor_) << " exists: the test would take it away";
    // The first key above each of ours that is missing now goes again.
    for (const std::wstring& key : kKeys) {
      for (std::size_t at = key.find(L'\\'); at != std::wstring::npos; at = key.find(L'\\', at + 1)) {
        if (!KeyExists(key.substr(0, at))) {
          madeKeys_.push_back(key.substr(0, at));
          break;
        }
      }
    }
    owned_ = true;
  }

  void TearDown() override {
    if (!owned_) return;
    for (const std::wstring& key : kKeys) ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    for (const std::wstring& key : madeKeys_) ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(vendor_, ignored);
    for (const std::wstring& key : madeKeys_) EXPECT_FALSE(KeyExists(key)) << "left behind: " << Utf8(key);
    EXPECT_FALSE(FolderExists(vendor_)) << "left behind: " << Utf8(vendor_);
  }

  OutputRun Host(const std::wstring& arguments) {
    OutputRun run = RunProgramWithOutput(kHostExe, arguments);
    EXPECT_TRUE(run.result.finished) << "still running after " << run.result.elapsed.count() << " ms";
    EXPECT_FALSE(run.result.windowShown);
    return run;
  }

  Json Manifest(const std::wstring& path) {
    const std::string bytes = FileBytes(path);
    EXPECT_NE(bytes.rfind("\xEF\xBB\xBF", 0), 0u) << Utf8(path) << " starts with a byte-order mark";
    return Json::parse(bytes, nullptr, false);
  }

  void ExpectRegistered(const Json& origins, const Json& addons) {
    for (const std::wstring& key : kKeys)
      EXPECT_EQ(DefaultValue(key), key.find(L"Mozilla") == std::wstring::npos ? chromiumManifest_ : firefoxManifest_)
          << Utf8(key);
    const std::string host = Utf8(BinFolder() + kHostExe);
    EXPECT_EQ(Manifest(chromiumManifest_), (Json{{"name", "com.tarvesk.zypqueue"},
                                                 {"description", "ZYP download queue"},
                                                 {"path", host},
                                                 {"type", "stdio"},
                                                 {"allowed_origins", origins}}));
    EXPECT_EQ(Manifest(firefoxManifest_), (Json{{"name", "com.tarvesk.zypqueue"},
                                                {"description", "ZYP download queue"},
                                                {"path", host},
                                                {"type", "stdio"},
                                                {"allowed_extensions", addons}}));
  }

  // No key, no file and no folder of the registration; with nothing written
  // at all, the parent keys that were missing are missing still.
  void ExpectNothingRegistered(bool nothingWritten) {
    for (const std::wstring& key : kKeys) EXPECT_FALSE(KeyExists(key)) << Utf8(key);
    EXPECT_FALSE(FolderExists(vendor_));
    if (!nothingWritten) return;
    for (const std::wstring& key : madeKeys_) EXPECT_FALSE(KeyExists(key)) << Utf8(key);
  }

  Lines WrittenLines() const {
    Lines lines = {"Wrote " + Utf8(chromiumManifest_), "Wrote " + Utf8(firefoxManifest_)};
    for (const std::wstring& key : kKeys)
      lines.push_back("Set HKEY_CURRENT_USER\\" + Utf8(key) + " to " +
                      Utf8(key.find(L"Mozilla") == std::wstring::npos ? chromiumManifest_ : firefoxManifest_));
    return lines;
  }

  std::wstring vendor_;
  std::wstring hosts_;
  std::wstring chromiumManifest_;
  std::wstring firefoxManifest_;
  std::vector<std::wstring> madeKeys_;
  bool owned_ = false;
};

TEST_F(RegistrationCommandTest, RegistersForTheCurrentUserAndUnregistersAgainAndAgain) {
  const OutputRun first = Host(L"--register");
  EXPECT_EQ(first.result.exitCode, 0u) << first.output;
  Lines expected = {"Created the folder " + Utf8(vendor_), "Created the folder " + Utf8(hosts_)};
  for (const std::string& line : WrittenLines()) expected.push_back(line);
  EXPECT_EQ(LinesOf(first.output), expected);
  ExpectRegistered(DefaultOrigins(), Json::array({kDefaultAddon}));

  // Again, with the extensions given: the same places, their ids instead.
  const OutputRun again = Host(
      L"--register --chromium-extension-id aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa --firefox-extension-id "
      L"{daf44bf7-a45e-4450-979c-91cf07434c3d} --firefox-extension-id @zyp-test");
  EXPECT_EQ(again.result.exitCode, 0u) << again.output;
  EXPECT_EQ(LinesOf(again.output), WrittenLines());
  ExpectRegistered(Json::array({"chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"}),
                   Json::array({"{daf44bf7-a45e-4450-979c-91cf07434c3d}", "@zyp-test"}));

  const OutputRun removed = Host(L"--unregister");
  EXPECT_EQ(removed.result.exitCode, 0u) << removed.output;
  Lines removals;
  for (const std::wstring& key : kKeys) removals.push_back("Removed HKEY_CURRENT_USER\\" + Utf8(key));
  removals.insert(removals.end(), {"Removed " + Utf8(chromiumManifest_), "Removed " + Utf8(firefoxManifest_),
                                   "Removed the folder " + Utf8(hosts_), "Removed the folder " + Utf8(vendor_)});
  EXPECT_EQ(LinesOf(removed.output), removals);
  for (const std::wstring& key : kKeys) {
    // The parent key is shared with other hosts: it stays.
    EXPECT_TRUE(KeyExists(key.substr(0, key.rfind(L'\\')))) << Utf8(key);
    EXPECT_FALSE(KeyExists(key)) << Utf8(key);
  }
  EXPECT_FALSE(FolderExists(vendor_));

  const OutputRun none = Host(L"--unregister");
  EXPECT_EQ(none.result.exitCode, 0u) << none.output;
  EXPECT_EQ(LinesOf(none.output), Lines{"Nothing was registered."});
}

TEST_F(RegistrationCommandTest, UnregisterTakesNothingThatIsNotItsOwn) {
  ASSERT_EQ(Host(L"--register").result.exitCode, 0u);
  const std::wstring otherHost = L"Software\\Mozilla\\NativeMessagingHosts\\com.other.host";
  const std::wstring foreignSubkey = kKeys[2] + L"\\extra";
  const std::wstring otherFile = vendor_ + L"\\settings.ini";
  const ScopeExit cleanUp([&] {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, otherHost.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, foreignSubkey.c_str());
  });
  for (const std::wstring& key : {otherHost, foreignSubkey}) {
    testing::SetDefaultValue(testing::kCurrentUser, key, L"C:\\other.json");
    if (HasFatalFailure()) return;
  }
  {
    const win32::UniqueHandle file(
        ::CreateFileW(otherFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
  }

  // A key with a subkey is not ours alone: it stays, said so, and the rest goes.
  const OutputRun refused = Host(L"--unregister");
  EXPECT_EQ(refused.result.exitCode, 1u) << refused.output;
  EXPECT_NE(refused.output.find("Could not remove HKEY_CURRENT_USER\\" + Utf8(kKeys[2]) + ": "), std::string::npos)
      << refused.output;
  EXPECT_TRUE(KeyExists(kKeys[2]));
  for (const std::wstring& key : {kKeys[0], kKeys[1], kKeys[3]}) EXPECT_FALSE(KeyExists(key)) << Utf8(key);
  EXPECT_EQ(DefaultValue(otherHost), L"C:\\other.json");
  EXPECT_FALSE(FolderExists(hosts_));
  EXPECT_TRUE(FileExists(otherFile));

  ASSERT_EQ(::RegDeleteKeyW(HKEY_CURRENT_USER, foreignSubkey.c_str()), ERROR_SUCCESS);
  const OutputRun rest = Host(L"--unregister");
  EXPECT_EQ(rest.result.exitCode, 0u) << rest.output;
  EXPECT_EQ(LinesOf(rest.output), Lines{"Removed HKEY_CURRENT_USER\\" + Utf8(kKeys[2])});
  EXPECT_TRUE(FileExists(otherFile)) << "the folder holding another program's file is kept";
  EXPECT_EQ(DefaultValue(otherHost), L"C:\\other.json");
}

TEST_F(RegistrationCommandTest, BadArgumentsChangeNothingAndExitWith2) {
  struct Case {
    const wchar_t* arguments;
    std::string reason;  // the first line starts with it
  };
  const Case refusals[] = {
      {L"--register --chromium-extension-id ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP", "Not a Chromium extension id"},
      {L"--register --chromium-extension-id aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa --firefox-extension-id",
       "--firefox-extension-id needs an extension id"},
      {L"--register --for-all-users", "Unknown argument \"--for-all-users\""},
  };
  for (const Case& c : refusals) {
    const OutputRun run = Host(c.arguments);
    EXPECT_EQ(run.result.exitCode, 2u) << Utf8(c.arguments);
    EXPECT_EQ(run.output.rfind(c.reason, 0), 0u) << run.output;
    ExpectNothingRegistered(true);
  }
  ASSERT_EQ(Host(L"--register").result.exitCode, 0u);
  const OutputRun run = Host(L"--unregister --everything");
  EXPECT_EQ(run.result.exitCode, 2u);
  EXPECT_EQ(run.output.rfind("--unregister takes no arguments", 0), 0u) << run.output;
  ExpectRegistered(DefaultOrigins(), Json::array({kDefaultAddon}));
}

// The test process's console for the duration: none at all, or a new one;
// its standard handles are put back afterwards.
class TestConsole {
 public:
  explicit TestConsole(bool make) {
    for (int i = 0; i < 3; ++i) saved_[i] = ::GetStdHandle(kKinds[i]);
    ::FreeConsole();
    made_ = make && ::AllocConsole();
  }
  ~TestConsole() {
    ::FreeConsole();
    for (int i = 0; i < 3; ++i) ::SetStdHandle(kKinds[i], saved_[i]);
  }
  TestConsole(const TestConsole&) = delete;
  TestConsole& operator=(const TestConsole&) = delete;

  bool Made() const { return made_; }

 private:
  static constexpr DWORD kKinds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE saved_[3] = {};
  bool made_ = false;
};

// Started as a console's shell starts a program of the GUI subsystem: with
// no standard handles at all.
RunResult RunWithoutHandles(const std::wstring& arguments) {
  const StandardHandles none;
  ChildProcess host(kHostExe, arguments, {}, std::nullopt, nullptr, &none);
  return host.Wait(10s);
}

TEST_F(RegistrationCommandTest, WithNowhereToPrintItStillWorksAndOpensNoWindow) {
  const TestConsole none(false);
  const RunResult registered = RunWithoutHandles(L"--register");
  EXPECT_TRUE(registered.finished);
  EXPECT_EQ(registered.exitCode, 0u);
  EXPECT_FALSE(registered.windowShown);
  ExpectRegistered(DefaultOrigins(), Json::array({kDefaultAddon}));
  const RunResult unregistered = RunWithoutHandles(L"--unregister");
  EXPECT_EQ(unregistered.exitCode, 0u);
  EXPECT_FALSE(unregistered.windowShown);
  ExpectNothingRegistered(false);
}

TEST_F(RegistrationCommandTest, WithoutAnOutputHandleItPrintsInItsParentsConsole) {
  const TestConsole console(true);
  ASSERT_TRUE(console.Made()) << "no console for the test: " << ::GetLastError();
  const RunResult run = RunWithoutHandles(L"--unregister");
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(run.windowShown);
  const win32::UniqueHandle screen(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                 nullptr));
  ASSERT_TRUE(screen) << ::GetLastError();
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(::GetConsoleScreenBufferInfo(screen.Get(), &info)) << ::GetLastError();
  std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
  DWORD read = 0;
  ASSERT_TRUE(::ReadConsoleOutputCharacterW(screen.Get(), row.data(), static_cast<DWORD>(row.size()), {0, 0}, &read));
  row.resize(row.find_last_not_of(L' ') + 1);
  EXPECT_EQ(Utf8(row), "Nothing was registered.");
  EXPECT_EQ(info.dwCursorPosition.Y, 1) << "one line, then the cursor on the next";
}

}  // namespace
}  // namespace zyp::e2e
