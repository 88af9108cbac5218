// Replays every line of docs/vectors.jsonl, the test vectors for people who
// build a queue manager or an integration, against the real program and the
// stand-in companions, and checks every field the vector expects: exit code,
// pipe messages, control message, started program, cookie files and the
// settings key. A failure names the vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

constexpr char kVectorsPath[] = "vectors.jsonl";  // copied beside the test by the build
constexpr char16_t kParamFileMark[] = u"{PARAMFILE}";

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::string Narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

std::string Base64Decode(std::u16string_view text) {
  static constexpr std::string_view kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char16_t c : text) {
    if (c == u'=') break;
    const std::size_t digit = c < 0x80 ? kDigits.find(static_cast<char>(c)) : std::string_view::npos;
    if (digit == std::string_view::npos) throw std::runtime_error("not base64");
    bits = bits << 6 | static_cast<std::uint32_t>(digit);
    if ((count += 6) >= 8) {
      count -= 8;
      bytes.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return bytes;
}

std::string ToText(const std::u16string& text) { return Utf8(Wide(text)); }

// The stand-in's knobs for each state the "manager" field names; nothing
// for "absent".
std::optional<Environment> ManagerKnobs(const std::u16string& state) {
  const std::pair<std::u16string, Environment> states[] = {
      {u"running", {}},
      {u"no pipe", {{L"ZYP_QM_NO_PIPE", L"1"}}},
      {u"busy", {{L"ZYP_QM_BUSY", L"1"}}},
      {u"not reading", {{L"ZYP_QM_NO_READ", L"1"}}},
      {u"hanging up", {{L"ZYP_QM_HANG_UP", L"1"}}},
      {u"reading late", {{L"ZYP_QM_SLOW_READ_MS", L"6000"}}},
  };
  for (const auto& [name, knobs] : states) {
    if (name != state) continue;
    Environment environment = knobs;
    environment.emplace_back(L"ZYP_QM_IDLE_MS", L"600000");
    return environment;
  }
  return std::nullopt;
}

struct Vector {
  int line = 0;
  JsonValue fields;
  std::string Label() const {
    return "docs/vectors.jsonl line " + std::to_string(line) + " \"" + ToText(fields["name"].AsText()) + "\"";
  }
};

std::vector<Vector> ReadVectors() {
  std::ifstream file(kVectorsPath, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open vectors.jsonl in the test's working folder");
  std::vector<Vector> vectors;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    if (line.empty()) continue;
    const auto value = ParseJson(line);
    if (!value || value->GetType() != JsonValue::Type::Object)
      throw std::runtime_error("line " + std::to_string(number) + " of vectors.jsonl is not a JSON object");
    vectors.push_back({number, *value});
  }
  return vectors;
}

// The cookie folder's files: name -> bytes.
std::map<std::wstring, std::string> CookieFiles() {
  std::map<std::wstring, std::string> files;
  WIN32_FIND_DATAW found{};
  const win32::UniqueFind search(::FindFirstFileW((CookieFolder() + L"*").c_str(), &found));
  if (!search) return files;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    files[found.cFileName] = FileBytes(CookieFolder() + found.cFileName);
  } while (::FindNextFileW(search.Get(), &found));
  return files;
}

void ClearCookieFolder() {
  for (const auto& [name, bytes] : CookieFiles()) ::DeleteFileW((CookieFolder() + name).c_str());
}

// The settings key's values, name -> text, or nothing when the key is missing.
std::optional<std::map<std::wstring, std::wstring>> RegistryValues() {
  if (!SettingsKeySnapshot::KeyExists()) return std::nullopt;
  std::map<std::wstring, std::wstring> values;
  for (const std::wstring& name : SettingsKeySnapshot::ValueNames())
    values[name] = SettingsKeySnapshot::Text(name).value_or(L"(not REG_SZ)");
  return values;
}

std::optional<std::map<std::wstring, std::wstring>> ExpectedRegistry(const JsonValue& field) {
  if (field.IsNull()) return std::nullopt;
  std::map<std::wstring, std::wstring> values;
  for (const auto& [name, value] : field.Members())
    values[std::wstring(name.begin(), name.end())] = Wide(value.AsText());
  return values;
}

std::string Describe(const std::optional<std::map<std::wstring, std::wstring>>& values) {
  if (!values) return "(no key)";
  std::string text = "{";
  for (const auto& [name, value] : *values) text += " " + Utf8(name) + "=" + Utf8(value) + ";";
  return text + " }";
}

// The companions' process name for a program file name: without ".exe".
std::u16string ProcessName(const std::u16string& program) {
  return program.ends_with(u".exe") ? program.substr(0, program.size() - 4) : program;
}

class VectorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CloseRunningManagers()) << "a queue manager from elsewhere is running";
    savedCookies_ = CookieFiles();
  }
  void TearDown() override {
    manager_.reset();
    CloseRunningManagers();
    ClearCookieFolder();
    for (const auto& [name, bytes] : savedCookies_) WriteFile(CookieFolder() + name, bytes);
  }

  static void WriteFile(const std::wstring& path, std::string_view bytes) {
    const win32::UniqueHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        << "cannot write " << Narrow(path);
  }

  // Runs one vector and checks everything it expects.
  void Replay(const Vector& vector);

  // One stand-in and journal serve consecutive vectors of the same manager
  // state; a "not reading" stand-in holds its connections, so it serves one.
  void UseManager(const std::u16string& state);

  // Companions that journaled a start nobody expected, named by the vector
  // whose run came before their entry.
  void ExpectNoStrayStarts() const;

  std::vector<std::unique_ptr<Journal>> journals_;
  std::unique_ptr<StandInManager> manager_;
  std::u16string managerState_;
  std::map<std::wstring, std::string> savedCookies_;
  // The first "start" entry, from the given one on, of a process of that
  // name whose start nobody accounted for yet; the entry's place when found.
  std::optional<std::size_t> NewStart(const Journal& journal, const std::u16string& process) const;

  // Every start that is accounted for (the test's stand-ins and the
  // companions the vectors expected), as its journal and entry: the system
  // gives a new process the id of one that ended, so ids cannot tell them.
  std::set<std::pair<const Journal*, std::size_t>> knownStarts_;
  struct RunMark {
    std::string label;
    const Journal* journal;
    std::size_t from;
  };
  std::vector<RunMark> runs_;
};

void VectorsTest::UseManager(const std::u16string& state) {
  const bool reuse = manager_ != nullptr && managerState_ == state && state != u"not reading";
  if (reuse) return;
  manager_.reset();
  ASSERT_TRUE(CloseRunningManagers());
  journals_.push_back(std::make_unique<Journal>());
  managerState_ = state;
  const std::optional<Environment> knobs = ManagerKnobs(state);
  if (!knobs) {
    ASSERT_EQ(state, u"absent") << "unknown manager state \"" << ToText(state) << "\"";
    return;
  }
  manager_ = std::make_unique<StandInManager>(*journals_.back(), *knobs);
  ASSERT_TRUE(manager_->WaitReady()) << journals_.back()->Text();
  const std::optional<std::size_t> start = NewStart(*journals_.back(), u"ZYPQueueManager");
  ASSERT_TRUE(start.has_value()) << "the stand-in never journaled its start\n" << journals_.back()->Text();
  knownStarts_.emplace(journals_.back().get(), *start);
}

std::optional<std::size_t> VectorsTest::NewStart(const Journal& journal, const std::u16string& process) const {
  const std::vector<JsonValue> entries = journal.Entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i]["event"].AsText() == u"start" && entries[i]["process"].AsText() == process &&
        !knownStarts_.contains({&journal, i}))
      return i;
  }
  return std::nullopt;
}

void VectorsTest::Replay(const Vector& vector) {
  const JsonValue& v = vector.fields;
  for (const char* field : {"name", "manager", "command_tail", "parameter_file_base64", "registry_before", "exit_code",
                            "pipe_messages_hex", "control", "started", "cookie_files", "registry_after"})
    ASSERT_TRUE(v.Has(field)) << "the field \"" << field << "\" is missing";
  ASSERT_EQ(v.Members().size(), 11u) << "a vector holds exactly the eleven fields";

  ASSERT_NO_FATAL_FAILURE(UseManager(v["manager"].AsText()));
  const Journal& journal = *journals_.back();

  // The settings key exactly as the vector has it before the run.
  SettingsKeySnapshot::RemoveKey();
  if (!v["registry_before"].IsNull()) {
    SettingsKeySnapshot::CreateKey();
    for (const auto& [name, value] : v["registry_before"].Members())
      SettingsKeySnapshot::SetText(std::wstring(name.begin(), name.end()), Wide(value.AsText()));
  }
  // An empty cookie folder, but for the files the run is to delete.
  ClearCookieFolder();
  for (const auto& [name, bytes] : v["cookie_files"].Members())
    if (bytes.IsNull()) WriteFile(CookieFolder() + std::wstring(name.begin(), name.end()), "old=1\r\n");

  std::optional<RequestFile> parameterFile;
  std::wstring tail = Wide(v["command_tail"].AsText());
  if (!v["parameter_file_base64"].IsNull()) {
    parameterFile.emplace(L"vector.txt", Base64Decode(v["parameter_file_base64"].AsText()));
    const std::size_t mark = tail.find(Wide(kParamFileMark));
    ASSERT_NE(mark, std::wstring::npos) << "a parameter file but no " << ToText(kParamFileMark) << " in the tail";
    tail.replace(mark, std::size(kParamFileMark) - 1, parameterFile->Path());
  }
  ASSERT_TRUE(tail.empty() || tail[0] == L' ') << "the tail begins with a blank";

  const std::size_t from = journal.Entries().size();
  runs_.push_back({vector.Label(), &journal, from});
  ChildProcess program(kProgramExe, tail.empty() ? tail : tail.substr(1),
                       {journal.Variable(), {L"ZYP_QM_IDLE_MS", L"600000"}});
  const RunResult run = program.Wait(15s);
  ASSERT_TRUE(run.finished) << "still running after " << run.elapsed.count() << " ms";
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(v["exit_code"].AsInt()))
      << "exit code, after " << run.elapsed.count() << " ms";
  EXPECT_FALSE(run.windowShown);

  // Every connection of the run is journaled once the stand-in has seen its
  // end; a stand-in that never reads is stopped to end them.
  if (manager_ != nullptr) {
    const DWORD pid = manager_->Id();
    if (managerState_ == u"not reading") {
      manager_->Stop();
    } else {
      EXPECT_TRUE(WaitUntil(
          [&] { return journal.Events("disconnect", 0, from).size() == journal.Events("connect", 0, from).size(); },
          10s))
          << "a connection of the stand-in " << pid << " never ended";
    }
  }

  const JsonValue& started = v["started"];
  if (!started.IsNull()) {
    const std::u16string process = ProcessName(started["program"].AsText());
    // Earlier runs may have started the same program with the same words.
    std::optional<std::size_t> start;
    ASSERT_TRUE(WaitUntil([&] { return (start = NewStart(journal, process)).has_value(); }, 10s))
        << ToText(process) << " was not started";
    knownStarts_.emplace(&journal, *start);
    const JsonValue entry = journal.Entries()[*start];
    const std::int64_t pid = entry["pid"].AsInt();
    EXPECT_EQ(entry["args"].AsTexts(), started["arguments"].AsTexts());
    // A queue manager the program started is closed before the next run,
    // once its window is there to be closed.
    if (process == u"ZYPQueueManager") {
      const auto readyAfterStart = [&] {
        return !journal.Events("ready", static_cast<DWORD>(pid), *start + 1).empty();
      };
      EXPECT_TRUE(WaitUntil(readyAfterStart, 10s)) << "the started queue manager never became ready\n"
                                                   << journal.Text();
      EXPECT_TRUE(CloseRunningManagers());
    }
  }

  std::vector<std::u16string> messages;
  for (const JsonValue& message : journal.Events("message", 0, from)) messages.push_back(message["bytes_hex"].AsText());
  EXPECT_TRUE(messages == v["pipe_messages_hex"].AsTexts())
      << "pipe messages: " << messages.size() << " received, " << v["pipe_messages_hex"].Items().size() << " expected\n"
      << journal.Text().substr(0, 2000);

  const std::vector<JsonValue> progress = journal.Events("progress", 0, from);
  if (v["control"].IsNull()) {
    EXPECT_TRUE(progress.empty()) << "a control message was posted";
  } else {
    ASSERT_EQ(progress.size(), 1u) << "one control message";
    EXPECT_EQ(progress[0]["wparam"].AsInt(), v["control"].Items().at(0).AsInt());
    EXPECT_EQ(progress[0]["lparam"].AsInt(), v["control"].Items().at(1).AsInt());
  }

  std::map<std::wstring, std::u16string> expectedCookies;
  for (const auto& [name, bytes] : v["cookie_files"].Members())
    if (!bytes.IsNull()) expectedCookies[std::wstring(name.begin(), name.end())] = bytes.AsText();
  std::map<std::wstring, std::u16string> cookies;
  for (const auto& [name, bytes] : CookieFiles()) cookies[name] = HexBytes(bytes);
  EXPECT_TRUE(cookies == expectedCookies) << [&] {
    std::string text = "cookie folder:";
    for (const auto& [name, hex] : cookies) text += " " + Utf8(name) + "=" + Narrow(Wide(hex));
    return text;
  }();

  const auto registry = RegistryValues();
  const auto expectedRegistry = ExpectedRegistry(v["registry_after"]);
  EXPECT_TRUE(registry == expectedRegistry)
      << "settings key " << Describe(registry) << ", expected " << Describe(expectedRegistry);
}

void VectorsTest::ExpectNoStrayStarts() const {
  for (const auto& journal : journals_) {
    const std::vector<JsonValue> entries = journal->Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const JsonValue& e = entries[i];
      if (e["event"].AsText() != u"start" || knownStarts_.contains({journal.get(), i})) continue;
      std::string label = "before the first run";
      for (const RunMark& run : runs_)
        if (run.journal == journal.get() && run.from <= i) label = run.label;
      ADD_FAILURE() << label << ": " << ToText(e["process"].AsText()) << " was started with "
                    << ToText(e["command_line"].AsText());
    }
  }
}

TEST_F(VectorsTest, EveryVectorHoldsForTheRealProgram) {
  SettingsKeySnapshot settings;
  const std::vector<Vector> vectors = ReadVectors();
  ASSERT_FALSE(vectors.empty());
  for (const Vector& vector : vectors) {
    SCOPED_TRACE(vector.Label());
    Replay(vector);
  }
  manager_.reset();
  // A companion started by mistake may journal its start a moment after its
  // run ended, so every journal is looked at once all runs are done.
  ExpectNoStrayStarts();
}

}  // namespace
}  // namespace zyp::e2e
