// The trace that ZYP_TRACE asks for, written by the real program: one JSON
// line per step, no cookie value anywhere in it, and a run that goes the
// same way whether or not the trace can be written.
#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

// A trace file of its own in the temporary folder, removed afterwards.
class TraceFile {
 public:
  TraceFile() : path_(TempFolder() + L"zyp-trace-" + std::to_wstring(::GetCurrentProcessId()) + L".jsonl") {
    ::DeleteFileW(path_.c_str());
  }
  ~TraceFile() { ::DeleteFileW(path_.c_str()); }

  std::pair<std::wstring, std::wstring> Variable() const { return {L"ZYP_TRACE", path_}; }
  const std::wstring& Path() const { return path_; }
  std::string Text() const { return FileBytes(path_); }
  std::vector<JsonValue> Lines() const {
    JsonLines lines = ParseJsonLines(Text());
    for (const std::string& bad : lines.badLines) ADD_FAILURE() << "trace line is not JSON: " << bad;
    return std::move(lines.values);
  }
  // The lines of one step.
  std::vector<JsonValue> Steps(std::u16string_view step) const {
    std::vector<JsonValue> found;
    for (JsonValue& line : Lines())
      if (line["step"].AsText() == step) found.push_back(std::move(line));
    return found;
  }

 private:
  std::wstring path_;
};

class TraceFileTest : public ManagerFreeTest {
 protected:
  TraceFile trace_;
};

// Cookie values that can be found anywhere they might leak to.
constexpr wchar_t kSecretA[] = L"Sekr1tValueA\u00e9";
constexpr wchar_t kSecretB[] = L"Sekr1tValueB";

TEST_F(TraceFileTest, RequestsAreTracedStepByStepWithoutCookieValues) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  const std::wstring address = L"http://www.trace.example.com/f.zip";
  const RunResult run = RunProgram(
      kProgramExe, address + L" \"cookielist=session=" + kSecretA + L"; lang=" + kSecretB + L"\" \"linktext=The file\"",
      {journal_.Variable(), trace_.Variable()});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  RequestFile file(L"trace-request.txt", std::vector<std::wstring>{L"ZYP Parameter File", address,
                                                                   std::wstring(L"CookieList=id=") + kSecretB});
  const RunResult second = RunProgram(kProgramExe, Quoted(file.Path()), {journal_.Variable(), trace_.Variable()});
  EXPECT_EQ(second.exitCode, 0u);

  const std::string text = trace_.Text();
  for (const wchar_t* secret : {kSecretA, kSecretB})
    EXPECT_EQ(text.find(Utf8(secret)), std::string::npos) << "a cookie value in the trace:\n" << text;

  const auto arrived = trace_.Steps(u"arrived");
  ASSERT_EQ(arrived.size(), 2u) << text;
  EXPECT_TRUE(arrived[0]["command_line"].AsText().ends_with(
      u"f.zip \"cookielist=session=***; lang=***\" \"linktext=The file\""))
      << text;
  const auto fields = trace_.Steps(u"fields");
  ASSERT_EQ(fields.size(), 2u) << text;
  EXPECT_EQ(fields[0]["cookie_names"].AsTexts(), (std::vector<std::u16string>{u"session", u"lang"}));
  EXPECT_TRUE(fields[0]["extra_text"].AsText() == u"The file");
  EXPECT_EQ(fields[1]["cookie_names"].AsTexts(), std::vector<std::u16string>{u"id"});
  EXPECT_EQ(trace_.Steps(u"arguments").at(1)["items"].AsTexts(),
            (std::vector<std::u16string>{u"http://www.trace.example.com/f.zip", u"CookieList=id=***"}));

  bool removed = false;
  for (const JsonValue& line : trace_.Steps(u"file"))
    removed = removed || (line["op"].AsText() == u"remove" && line["ok"].AsBool());
  EXPECT_TRUE(removed) << "the parameter file's removal\n" << text;

  // Where it went and what came of it, for each run.
  const auto attempts = trace_.Steps(u"pipe_attempt");
  ASSERT_EQ(attempts.size(), 2u) << text;
  for (const JsonValue& attempt : attempts) {
    EXPECT_EQ(attempt["error"].AsInt(), 0);
    EXPECT_EQ(attempt["server_pid"].AsInt(), manager.Id());
  }
  const auto writes = trace_.Steps(u"pipe_write");
  ASSERT_EQ(writes.size(), 2u);
  const std::string message = Utf8(L"ADDURL:" + address + L"[<{(The file)}>]");
  EXPECT_EQ(writes[0]["bytes"].AsInt(), static_cast<std::int64_t>(message.size()));
  const auto sent = trace_.Steps(u"pipe_sent");
  ASSERT_FALSE(sent.empty()) << text;
  EXPECT_TRUE(sent.front()["message_confirmed"].AsBool());
  const auto exits = trace_.Steps(u"exit");
  ASSERT_EQ(exits.size(), 2u);
  EXPECT_EQ(exits[0]["code"].AsInt(), 0);
  EXPECT_TRUE(exits[0]["reason"].AsText() == u"delivered");

  // Each run's lines carry its own process id and a time that only grows.
  std::int64_t lastMs = -1, lastPid = 0;
  for (const JsonValue& line : trace_.Lines()) {
    if (line["pid"].AsInt() != lastPid) lastMs = -1;
    lastPid = line["pid"].AsInt();
    EXPECT_GE(line["t_ms"].AsInt(), lastMs);
    lastMs = line["t_ms"].AsInt();
    EXPECT_EQ(line["time"].AsText().size(), 24u);
  }
}

TEST_F(TraceFileTest, StartedCompanionsAndUndeliveredRequestsSayWhy) {
  {
    const RunResult run =
        RunProgram(kProgramExe, L"http://www.trace.example.com/start", {journal_.Variable(), trace_.Variable()});
    EXPECT_EQ(run.exitCode, 0u);
    const auto start = journal_.WaitFor("start", 10s);
    ASSERT_TRUE(start.has_value());
    const auto started = trace_.Steps(u"start");
    ASSERT_EQ(started.size(), 1u) << trace_.Text();
    EXPECT_TRUE(started[0]["ok"].AsBool());
    // The process the shell reports; Wine's shell may name a launcher in
    // between rather than the manager itself.
    EXPECT_GT(started[0]["pid"].AsInt(), 0);
    EXPECT_TRUE(started[0]["file"].AsText().ends_with(u"\\ZYPQueueManager.exe"));
    EXPECT_TRUE(started[0]["parameters"].AsText() == u"\"http://www.trace.example.com/start\"");
    ASSERT_TRUE(CloseRunningManagers());
  }
  {
    // A manager whose only pipe instance is taken: the wait ends with an
    // error, and the exit line says so.
    ::DeleteFileW(trace_.Path().c_str());
    StandInManager manager(journal_, {{L"ZYP_QM_BUSY", L"1"}, {L"ZYP_QM_IDLE_MS", L"60000"}});
    ASSERT_TRUE(manager.WaitReady());
    const RunResult run =
        RunProgram(kProgramExe, L"http://www.trace.example.com/busy", {journal_.Variable(), trace_.Variable()});
    EXPECT_EQ(run.exitCode, 2u);
    const auto attempts = trace_.Steps(u"pipe_attempt");
    ASSERT_FALSE(attempts.empty()) << trace_.Text();
    EXPECT_NE(attempts.back()["error"].AsInt(), 0);
    const auto exits = trace_.Steps(u"exit");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0]["code"].AsInt(), 2);
    EXPECT_TRUE(exits[0]["reason"].AsText() == u"not delivered");
    EXPECT_FALSE(exits[0]["cause"].AsText().empty()) << trace_.Text();
  }
}

TEST_F(TraceFileTest, ATraceThatCannotBeWrittenChangesNothing) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  const std::wstring missingFolder = TempFolder() + L"zyp-no-such-folder\\trace.jsonl";
  const struct {
    const char* name;
    std::wstring value;
  } cases[] = {{"a folder", TempFolder()}, {"a missing folder", missingFolder}, {"a device", L"NUL"}, {"empty", L""}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::wstring address = L"http://www.trace.example.com/untraced" + std::to_wstring(i);
    const RunResult run = RunProgram(kProgramExe, address, {journal_.Variable(), {L"ZYP_TRACE", cases[i].value}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(run.windowShown);
    EXPECT_TRUE(WaitUntil([&] { return journal_.Events("message", manager.Id()).size() > i; }, 5s));
  }
  EXPECT_FALSE(FileExists(missingFolder));
  manager.Stop();
  const auto messages = journal_.Events("message", manager.Id());
  ASSERT_EQ(messages.size(), std::size(cases));
  EXPECT_TRUE(messages[0]["bytes_hex"].AsText() == HexBytes("ADDURL:http://www.trace.example.com/untraced0"));
}

}  // namespace
}  // namespace zyp::e2e
