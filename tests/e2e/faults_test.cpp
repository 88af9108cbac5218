// Faults around the program: queue managers that misbehave on the pipe, a
// temporary folder that cannot be written, registry settings that are
// missing or of the wrong type, parameter files that are held, huge or full
// of odd characters, and the longest command line. Whatever happens, the
// program neither crashes nor hangs, ends with the exit code that says what
// became of the request, and what it reports as delivered is in the queue
// manager's hands byte for byte. Parameter files are only ever local files:
// addresses that name the network or a device are never opened, and a
// "paramfile=" that names no readable file stops the request.
#include <windows.h>

#include <gtest/gtest.h>
#include <psapi.h>

#include <functional>
#include <memory>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

// What one case sets up and keeps alive while the program runs.
struct Scene {
  std::wstring arguments;
  Environment environment;  // for the program, beside the journal
  // The bytes the queue manager must hold afterwards; nothing may arrive
  // when there are none.
  std::optional<std::string> message;
  std::vector<std::unique_ptr<RequestFile>> files;
  win32::UniqueHandle heldFile;
  Milliseconds extraTime{0};  // work the program does before the bounded part
  std::function<void(const RunResult&, const Journal&)> check;
  // Looks at the program while its error box is up.
  std::function<void(const ChildProcess&)> whileBoxShown;
};

struct FaultCase {
  const char* name;
  Environment knobs;
  // Nothing: 0 when the message was read in time, 3 when all of it was in the
  // pipe, else 2 and nothing may have arrived.
  std::optional<DWORD> exitCode;
  bool errorBox;  // the run stops at an error box, which the test closes
  std::function<void(Scene&)> setUp;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }

std::string Ansi(const std::wstring& text) {
  const int length =
      ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
  return bytes;
}

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// The disconnect entries of the stand-in with the given reason.
std::size_t Disconnects(const Journal& journal, std::u16string_view reason) {
  std::size_t count = 0;
  for (const JsonValue& entry : journal.Events("disconnect"))
    if (entry["reason"].AsText() == reason) ++count;
  return count;
}

class Faults : public ManagerFreeTestWithParam<FaultCase> {
 protected:
  SettingsKeySnapshot settings_;
};

TEST_P(Faults, NoCrashNoHangAndTheDocumentedOutcome) {
  const FaultCase& c = GetParam();
  Environment knobs = c.knobs;
  knobs.emplace_back(L"ZYP_QM_IDLE_MS", L"60000");
  StandInManager manager(journal_, knobs);
  ASSERT_TRUE(manager.WaitReady());

  Scene scene;
  c.setUp(scene);
  if (HasFatalFailure()) return;
  Environment environment = scene.environment;
  environment.push_back(journal_.Variable());
  ChildProcess program(kProgramExe, scene.arguments, environment);
  ASSERT_TRUE(program.Started()) << "CreateProcessW failed: " << ::GetLastError();
  const auto started = std::chrono::steady_clock::now();
  Milliseconds boxShownFor{0};
  if (c.errorBox) {
    const auto dialog = WaitForDialog(program.Id(), 15s);
    ASSERT_TRUE(dialog.has_value()) << "no error box";
    boxShownFor = std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now() - started);
    if (scene.whileBoxShown) scene.whileBoxShown(program);
    ASSERT_TRUE(PressOk(*dialog));
  }
  const RunResult run = program.Wait(kRunBound + scene.extraTime + boxShownFor + 10s);
  RecordProperty("elapsed_ms", static_cast<int>(run.elapsed.count()));
  ASSERT_TRUE(run.finished) << "still running after " << run.elapsed.count() << " ms";
  EXPECT_LE(run.elapsed, kRunBound + scene.extraTime + boxShownFor);
  if (!c.errorBox) {
    EXPECT_FALSE(run.windowShown);
  }
  if (c.exitCode) {
    EXPECT_EQ(run.exitCode, *c.exitCode);
  } else {
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 2 || run.exitCode == 3) << run.exitCode;
    if (run.exitCode == 2) scene.message.reset();
  }
  RecordProperty("exit_code", static_cast<int>(run.exitCode));
  // Code 3 hands the message over unread: a manager that reads it after the
  // program has gone must still find all of it.
  if (run.exitCode == 3 && scene.message) {
    EXPECT_TRUE(journal_.WaitFor("message", 15s).has_value()) << "handed over, never arrived\n"
                                                              << journal_.Text().substr(0, 4000);
  }

  manager.Stop();
  const auto messages = journal_.Events("message", manager.Id());
  if (scene.message) {
    ASSERT_EQ(messages.size(), 1u) << journal_.Text().substr(0, 4000);
    EXPECT_TRUE(messages[0]["bytes_hex"].AsText() == HexBytes(*scene.message))
        << "arrived changed: " << journal_.Text().substr(0, 4000);
  } else {
    EXPECT_TRUE(messages.empty()) << journal_.Text().substr(0, 4000);
  }
  // Exit code 0 tells the caller that it need not fall back on its own
  // download: the manager must hold the request.
  if (run.exitCode == 0) {
    EXPECT_TRUE(scene.message.has_value() && messages.size() == 1);
  }
  EXPECT_EQ(journal_.Events("start").size(), 1u) << "nothing is started but the manager under test\n"
                                                 << journal_.Text().substr(0, 4000);
  if (scene.check) scene.check(run, journal_);
}

// An address with a link text, on the command line.
void PlainRequest(Scene& scene, const std::wstring& path) {
  scene.arguments = L"http://fault.example.com/" + path + L" \"linktext=A link\"";
}

// An address whose message needs the multi-packet framing.
void LongRequest(Scene& scene) {
  scene.files.push_back(std::make_unique<RequestFile>(
      L"long.txt", std::vector<std::wstring>{L"ZYP Parameter File", L"http://fault.example.com/long",
                                             L"pagetitle=" + std::wstring(100000, L'x')}));
  scene.arguments = Quoted(scene.files.back()->Path());
}

// A parameter file that the program must refuse: the request stops at an
// error box, and the file is kept.
void RefusedParameterFile(Scene& scene, const std::wstring& argument, const std::wstring& keptFile = L"") {
  scene.arguments = Quoted(argument) + L" \"linktext=Never sent\"";
  scene.check = [keptFile](const RunResult&, const Journal&) {
    if (!keptFile.empty()) {
      EXPECT_TRUE(FileExists(keptFile)) << "an unread file is kept";
    }
  };
}

// An address that names a parameter file through the device namespace: it
// is delivered as it stands, and the file is neither read nor deleted.
void DeviceNamespaceAddress(Scene& scene, const std::wstring& prefix) {
  scene.files.push_back(std::make_unique<RequestFile>(
      L"namespace.txt", std::vector<std::wstring>{L"ZYP Parameter File", L"http://fault.example.com/read"}));
  const std::wstring path = scene.files.back()->Path();
  const std::wstring address = prefix + path;
  scene.arguments = Quoted(address);
  scene.message = "ADDURL:" + Utf8(address);
  scene.check = [path](const RunResult&, const Journal&) { EXPECT_TRUE(FileExists(path)) << "never opened"; };
}

// A list request whose message needs the multi-packet framing: 3 bytes of
// UTF-8 for each of its 30000 characters.
void LongListRequest(Scene& scene) {
  scene.arguments = L"\"zypqueue=http://list.example.com/" + std::wstring(30000, L'\x4E2D') + L"\"";
}

// The characters that web pages and browsers may hand over: control
// characters and unpaired surrogates inside every field, blanks and control
// characters at the ends of the trimmed ones.
struct OddFields {
  std::wstring address = std::wstring(L"http://a\x01") + L"b.example.de/p\xD800q\x7F\x1B\t";
  std::wstring cookieList = std::wstring(L"id=x\x01") + L"\xDBFFy; s=z\x1F" + L"z";
  std::wstring browserTag = std::wstring(L"\x04T\x01") + L"g\xDC00 ";
  std::wstring agent = std::wstring(L" Ag\x05") + L"ent\xDFFF\x1F";
  std::wstring title = std::wstring(L"\x03 Ti\x02") + L"tle\xDBFF\x1F ";

  std::wstring storedTag() const { return std::wstring(L"T\x01") + L"g\xDC00"; }
  std::wstring storedAgent() const { return std::wstring(L"Ag\x05") + L"ent\xDFFF"; }
  std::string message() const {
    return "ADDURL:http://a\x01"
           "b.example.de/p" +
           std::string(kReplacement) + "q\x7F\x1B\t[<{(Ti\x02tle" + kReplacement + ")}>]";
  }
  std::wstring cookieFile() const { return CookieFolder() + L"a_b.example.de.dat"; }

  void CheckStored() const {
    EXPECT_EQ(SettingsKeySnapshot::Text(L"ZYPAgent" + storedTag()), storedAgent());
    EXPECT_EQ(FileBytes(cookieFile()), Ansi(cookieList) + "\r\n");
    ::DeleteFileW(cookieFile().c_str());
  }
};

void OddCharactersSetUp(Scene& scene, bool parameterFile) {
  const OddFields odd;
  SettingsKeySnapshot::SetText(L"ZYPAgentIgnored", L"the key exists");
  ::DeleteFileW(odd.cookieFile().c_str());
  const std::vector<std::wstring> arguments = {odd.address, L"cookielist=" + odd.cookieList,
                                               L"cookies=" + odd.browserTag, L"agent=" + odd.agent,
                                               // Sent when no link text is given.
                                               L"pagetitle=" + odd.title};
  if (parameterFile) {
    std::vector<std::wstring> lines = {L"ZYP Parameter File"};
    lines.insert(lines.end(), arguments.begin(), arguments.end());
    scene.files.push_back(std::make_unique<RequestFile>(L"odd.txt", lines, FileEncoding::Utf16LE));
    scene.arguments = Quoted(scene.files.back()->Path());
  } else {
    // Quoted, control characters belong to the argument.
    for (const std::wstring& argument : arguments) scene.arguments += Quoted(argument) + L" ";
    scene.arguments.pop_back();
  }
  scene.message = odd.message();
  scene.check = [odd](const RunResult&, const Journal&) { odd.CheckStored(); };
}

const FaultCase kCases[] = {
    {"manager_without_pipe",
     {{L"ZYP_QM_NO_PIPE", L"1"}},
     2,
     false,
     [](Scene& scene) { PlainRequest(scene, L"no-pipe"); }},
    {"all_instances_busy",
     {{L"ZYP_QM_BUSY", L"1"}},
     2,
     false,
     [](Scene& scene) {
       PlainRequest(scene, L"busy");
       scene.check = [](const RunResult& run, const Journal&) {
         EXPECT_GE(run.elapsed, kPause + kConnectionWait) << "the whole connection wait";
       };
     }},
    {"accepts_and_never_reads",
     {{L"ZYP_QM_NO_READ", L"1"}},
     3,
     false,
     // The one packet is in the pipe: handed over, though never read.
     [](Scene& scene) { PlainRequest(scene, L"unread"); }},
    {"never_reads_a_list_of_several_packets",
     {{L"ZYP_QM_NO_READ", L"1"}},
     2,
     false,
     [](Scene& scene) {
       // Only the start packet goes in: the next waits until it is read, and
       // a message without its end packet is dropped.
       LongListRequest(scene);
     }},
    {"reads_a_short_message_after_6_s",
     {{L"ZYP_QM_SLOW_READ_MS", L"6000"}},
     3,
     false,
     [](Scene& scene) {
       // The program has ended by then; the message is read from the pipe
       // after it went.
       PlainRequest(scene, L"late");
       scene.message = "ADDURL:http://fault.example.com/late[<{(A link)}>]";
     }},
    {"reads_too_slowly_for_a_long_message",
     {{L"ZYP_QM_SLOW_READ_MS", L"2000"}},
     2,
     false,
     [](Scene& scene) {
       // Four packets at two seconds each: the run gives up at its deadline,
       // and what the server read by then is dropped with the connection.
       LongRequest(scene);
     }},
    {"hangs_up_after_accepting",
     {{L"ZYP_QM_HANG_UP", L"1"}},
     2,
     false,
     [](Scene& scene) {
       PlainRequest(scene, L"hang-up");
       scene.check = [](const RunResult&, const Journal& journal) {
         EXPECT_GE(Disconnects(journal, u"hang up"), 1u) << "the program did connect";
       };
     }},
    {"hangs_up_with_the_message_unread",
     {{L"ZYP_QM_HANG_UP_UNREAD", L"1"}},
     2,
     false,
     [](Scene& scene) {
       // The whole message went into the pipe, but a server that ends the
       // connection throws away what it has not read: it is lost, not handed
       // over.
       PlainRequest(scene, L"unread");
       scene.check = [](const RunResult&, const Journal& journal) {
         EXPECT_EQ(Disconnects(journal, u"hang up unread"), 1u) << journal.Text();
       };
     }},
    {"closes_in_the_middle_of_a_message",
     {{L"ZYP_QM_CLOSE_AFTER", L"2"}},
     2,
     false,
     [](Scene& scene) {
       LongRequest(scene);
       // Start packet and first piece read, then the connection is dropped.
       scene.check = [](const RunResult&, const Journal& journal) {
         EXPECT_EQ(Disconnects(journal, u"close after"), 1u) << journal.Text().substr(0, 4000);
       };
     }},
    {"temporary_folder_not_writable",
     {},
     0,
     false,
     [](Scene& scene) {
       // A folder below a file can never be created.
       scene.files.push_back(std::make_unique<RequestFile>(L"not-a-folder", std::string_view("file")));
       const std::wstring temp = scene.files.back()->Path() + L"\\temp\\";
       scene.environment = {{L"TEMP", temp}, {L"TMP", temp}};
       const std::wstring cookieFile = CookieFolder() + L"tempfault.com.dat";
       ::DeleteFileW(cookieFile.c_str());
       scene.arguments = L"http://www.tempfault.com/f \"cookielist=id=1\" \"linktext=Still sent\"";
       scene.message = "ADDURL:http://www.tempfault.com/f[<{(Still sent)}>]";
       scene.check = [cookieFile](const RunResult&, const Journal&) {
         EXPECT_FALSE(FileExists(cookieFile)) << "the cookie went nowhere else";
       };
     }},
    {"settings_key_missing",
     {},
     0,
     false,
     [](Scene& scene) {
       SettingsKeySnapshot::RemoveKey();
       scene.arguments =
           L"http://fault.example.com/no-key cookies=FF \"agent=Mozilla/5.0 (X11)\" loadfromregistry "
           L"\"linktext=Replaced by the registry\"";
       // The page title and link text come from the registry alone.
       scene.message = "ADDURL:http://fault.example.com/no-key";
       scene.check = [](const RunResult&, const Journal&) {
         EXPECT_FALSE(SettingsKeySnapshot::KeyExists()) << "the program never creates its key";
       };
     }},
    {"settings_value_of_the_wrong_type",
     {},
     0,
     false,
     [](Scene& scene) {
       const std::uint8_t number[4] = {1, 2, 3, 4};
       SettingsKeySnapshot::SetValue(L"ZYPPageTitle", REG_DWORD, number);
       SettingsKeySnapshot::SetText(L"ZYPLinkText", L"Stored link");
       SettingsKeySnapshot::SetValue(L"ZYPAgentIE", REG_DWORD, number);
       scene.arguments = L"http://fault.example.com/wrong-type cookies=IE loadfromregistry \"linktext=Argument link\"";
       // The load ends at the page title: the link text keeps its argument.
       scene.message = "ADDURL:http://fault.example.com/wrong-type[<{(Argument link)}>]";
       scene.check = [](const RunResult&, const Journal&) {
         EXPECT_TRUE(SettingsKeySnapshot::ValueExists(L"ZYPPageTitle")) << "not deleted";
         EXPECT_EQ(SettingsKeySnapshot::Text(L"ZYPLinkText"), L"Stored link") << "not deleted";
         EXPECT_TRUE(SettingsKeySnapshot::ValueExists(L"ZYPAgentIE"));
         EXPECT_EQ(SettingsKeySnapshot::Text(L"ZYPAgentIE"), std::nullopt) << "not replaced by a text";
       };
     }},
    {"parameter_file_held_without_read_sharing",
     {},
     1,
     true,
     [](Scene& scene) {
       scene.files.push_back(std::make_unique<RequestFile>(
           L"held.txt", std::vector<std::wstring>{L"ZYP Parameter File", L"http://fault.example.com/held"}));
       const std::wstring path = scene.files.back()->Path();
       scene.heldFile.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
       ASSERT_TRUE(scene.heldFile);
       scene.arguments = Quoted(path);
       scene.check = [path](const RunResult&, const Journal&) {
         EXPECT_TRUE(FileExists(path)) << "an unread file is kept";
       };
     }},
    {"unc_path_as_the_address",
     {},
     0,
     false,
     [](Scene& scene) {
       // Never asked for: the network is never reached for an address.
       scene.arguments = L"\\\\zyp-test.invalid\\share\\request.txt";
       scene.message = "ADDURL:\\\\zyp-test.invalid\\share\\request.txt";
     }},
    {"device_namespace_path_as_the_address",
     {},
     0,
     false,
     [](Scene& scene) { DeviceNamespaceAddress(scene, L"\\\\.\\"); }},
    {"long_path_prefix_as_the_address", {}, 0, false, [](Scene& scene) { DeviceNamespaceAddress(scene, L"\\\\?\\"); }},
    {"paramfile_names_a_missing_file",
     {},
     1,
     true,
     [](Scene& scene) { RefusedParameterFile(scene, L"paramfile=" + TempFolder() + L"zyp-no-such-request.txt"); }},
    {"paramfile_names_a_folder",
     {},
     1,
     true,
     [](Scene& scene) { RefusedParameterFile(scene, L"paramfile=" + TempFolder()); }},
    {"paramfile_names_NUL", {}, 1, true, [](Scene& scene) { RefusedParameterFile(scene, L"paramfile=NUL"); }},
    {"paramfile_names_a_file_on_the_network",
     {},
     1,
     true,
     [](Scene& scene) { RefusedParameterFile(scene, L"paramfile=\\\\zyp-test.invalid\\share\\request.txt"); }},
    {"parameter_file_of_65_MiB",
     {},
     1,
     true,
     [](Scene& scene) {
       std::string bytes = "\xEF\xBB\xBFZYP Parameter File\r\nhttp://fault.example.com/too-big\r\n";
       bytes += "pagetitle=" + std::string((65u << 20) - bytes.size() - 12, 't') + "\r\n";
       scene.files.push_back(std::make_unique<RequestFile>(L"too-big.txt", bytes));
       const std::wstring path = scene.files.back()->Path();
       RefusedParameterFile(scene, path, path);
       scene.whileBoxShown = [](const ChildProcess& program) {
         // Refused by its size, before any of it was read.
         PROCESS_MEMORY_COUNTERS counters{};
         ASSERT_TRUE(::GetProcessMemoryInfo(program.Process(), &counters, sizeof counters));
         ::testing::Test::RecordProperty("peak_working_set", std::to_string(counters.PeakWorkingSetSize));
         // About 25 MB for a program under Wine; reading the file would add 65 MiB.
         EXPECT_LT(counters.PeakWorkingSetSize, std::size_t{48} << 20);
       };
     }},
    {"parameter_file_of_50_MiB",
     {},
     0,
     false,
     [](Scene& scene) {
       std::string bytes = "\xEF\xBB\xBFZYP Parameter File\r\nhttp://fault.example.com/big\r\n";
       const std::string padding = "padding=" + std::string(1000, 'p') + "\r\n";
       while (bytes.size() < (50u << 20)) bytes += padding;
       // Last, so that only a file read to its end sends it.
       bytes += "linktext=After 50 MiB\r\n";
       scene.files.push_back(std::make_unique<RequestFile>(L"big.txt", bytes));
       const std::wstring path = scene.files.back()->Path();
       scene.arguments = Quoted(path);
       scene.message = "ADDURL:http://fault.example.com/big[<{(After 50 MiB)}>]";
       scene.extraTime = 3000ms;  // reading and splitting 50 MiB under Wine
       scene.check = [path](const RunResult&, const Journal&) {
         EXPECT_FALSE(FileExists(path)) << "deleted once read";
       };
     }},
    {"page_title_of_50_MiB",
     {},
     std::nullopt,
     false,
     [](Scene& scene) {
       std::string bytes = "\xEF\xBB\xBFZYP Parameter File\r\nhttp://fault.example.com/huge\r\npagetitle=";
       bytes += std::string(50u << 20, 't');
       bytes += "\r\n";
       scene.files.push_back(std::make_unique<RequestFile>(L"huge.txt", bytes));
       scene.arguments = Quoted(scene.files.back()->Path());
       // Delivered when the pipe carries it within the run's deadline.
       scene.message = "ADDURL:http://fault.example.com/huge[<{(" + std::string(50u << 20, 't') + ")}>]";
       scene.extraTime = 3000ms;
     }},
    {"command_line_of_32767_characters",
     {},
     0,
     false,
     [](Scene& scene) {
       const std::wstring program = Quoted(BinFolder() + kProgramExe) + L" ";
       const std::wstring head = L"http://fault.example.com/longest \"linktext=";
       // The whole command line, its zero included, as long as it can be.
       const std::size_t title = kCommandLineLimit - 1 - program.size() - head.size() - 1;
       std::wstring text;
       for (std::size_t i = 0; i < title; ++i) text.push_back(static_cast<wchar_t>(L'a' + i % 26));
       scene.arguments = head + text + L"\"";
       ASSERT_EQ(program.size() + scene.arguments.size() + 1, kCommandLineLimit);
       scene.message = "ADDURL:http://fault.example.com/longest[<{(" + Utf8(text) + ")}>]";
     }},
    {"odd_characters_on_the_command_line", {}, 0, false, [](Scene& scene) { OddCharactersSetUp(scene, false); }},
    {"odd_characters_in_a_list",
     {},
     0,
     false,
     [](Scene& scene) {
       scene.arguments = Quoted(std::wstring(L"zypqueue=http://l.example.com/\x01") + L"\xD800 \xDFFF\x1F\t");
       scene.message = "ADDURLS:http://l.example.com/\x01" + std::string(kReplacement) + " " + kReplacement + "\x1F\t";
     }},
    {"odd_characters_in_a_utf16_parameter_file", {}, 0, false, [](Scene& scene) { OddCharactersSetUp(scene, true); }},
};

INSTANTIATE_TEST_SUITE_P(Cases, Faults, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zyp::e2e
