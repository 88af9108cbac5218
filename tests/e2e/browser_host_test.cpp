// The browser host as a browser runs it: the real ZYPBrowserHost.exe reads
// framed requests on its standard input, runs the real ZYPQueueAddURL.exe
// beside the stand-in companions, and answers on its standard output.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "tests/e2e/browser_host_driver.h"
#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

std::string Utf8Of(const std::u16string& text) {
  std::string out;
  for (const char16_t c : text) out.push_back(static_cast<char>(c));  // the tests' texts are ASCII here
  return out;
}

// The replies by their ids, each id once.
std::map<std::string, JsonValue> ById(const std::vector<JsonValue>& replies) {
  std::map<std::string, JsonValue> byId;
  for (const JsonValue& reply : replies) {
    const std::string id = Utf8Of(reply["id"].AsText());
    EXPECT_FALSE(byId.count(id)) << "two replies for " << id;
    byId[id] = reply;
  }
  return byId;
}

class BrowserHostTest : public ManagerFreeTest {
 protected:
  BrowserHostProcess& Host(const Environment& extra = {}) {
    Environment environment = extra;
    environment.push_back(journal_.Variable());
    host_.emplace(environment);
    EXPECT_TRUE(host_->Started());
    return *host_;
  }
  // Ends the host's input and checks that it ends by itself with the code.
  void ExpectEnd(DWORD exitCode) {
    host_->CloseInput();
    const RunResult end = host_->Wait(15s);
    EXPECT_TRUE(end.finished) << "the host still runs after its input ended";
    EXPECT_EQ(end.exitCode, exitCode);
    EXPECT_FALSE(end.windowShown);
  }

  std::optional<BrowserHostProcess> host_;
};

TEST_F(BrowserHostTest, EveryRequestReachesItsProgramWithEverythingItCarries) {
  SettingsKeySnapshot settings;
  SettingsKeySnapshot::CreateKey();
  const std::wstring cookieFile = CookieFolder() + L"host.example.dat";
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  BrowserHostProcess& host = Host();
  host.Send(
      R"({"type":"add","id":"add","url":"https://host.example/f.zip","cookies":"sid=42; lang=en",)"
      R"j("browser":"CH","userAgent":"Mozilla/5.0 (X11; Linux x86_64)","pageTitle":"Files","linkText":"The file"})j");
  host.Send(R"({"type":"explore","id":"explore","url":"http://host.example/page.html"})");
  host.Send(R"({"type":"list","id":"list","urls":["http://host.example/1","ftp://host.example/2"]})");
  host.Send(R"({"type":"status","id":"status"})");
  const std::map<std::string, JsonValue> replies = ById(host.Replies(4, 30s));
  ASSERT_EQ(replies.size(), 4u);
  for (const char* id : {"add", "explore", "list"}) {
    EXPECT_EQ(replies.at(id)["outcome"].AsText(), u"delivered") << id;
    EXPECT_EQ(replies.at(id)["exitCode"].AsInt(), 0) << id;
  }
  EXPECT_EQ(replies.at("status")["manager"].AsText(), u"running");
  EXPECT_EQ(replies.at("status")["version"].AsText(), u"1.0.0");

  // The queue requests, one after the other: their order is the queue's state.
  host.Send(R"({"type":"queue","id":"start","action":"start"})");
  EXPECT_EQ(host.Replies(1, 15s).at(0)["outcome"].AsText(), u"delivered");
  host.Send(R"({"type":"queue","id":"stop","action":"stop"})");
  EXPECT_EQ(host.Replies(1, 15s).at(0)["outcome"].AsText(), u"delivered");
  ExpectEnd(0);

  const std::optional<std::wstring> agent = SettingsKeySnapshot::Text(L"ZYPAgentCH");
  manager.Stop();
  const std::vector<JsonValue> messages = journal_.Events("message", manager.Id());
  ASSERT_EQ(messages.size(), 2u) << journal_.Text();
  const JsonValue& added = messages[0]["kind"].AsText() == u"ADDURL" ? messages[0] : messages[1];
  const JsonValue& listed = messages[0]["kind"].AsText() == u"ADDURL" ? messages[1] : messages[0];
  EXPECT_EQ(added["address"].AsText(), u"https://host.example/f.zip");
  EXPECT_EQ(added["extra"].AsText(), u"The file");
  EXPECT_EQ(added["cookies"].AsText(), u"sid=42; lang=en") << "the site's cookie file when the address arrived";
  EXPECT_EQ(listed["list"].AsText(), u"http://host.example/1 ftp://host.example/2");
  EXPECT_EQ(agent, L"Mozilla/5.0 (X11; Linux x86_64)");
  const std::vector<JsonValue> progress = journal_.Events("progress", manager.Id());
  ASSERT_EQ(progress.size(), 2u) << journal_.Text();
  EXPECT_EQ(progress[0]["lparam"].AsInt(), 1);
  EXPECT_EQ(progress[1]["lparam"].AsInt(), 0);
  const auto explorer =
      journal_.WaitFor("start", 10s, [](const JsonValue& e) { return e["process"].AsText() == u"ZYPLinkExplorer"; });
  ASSERT_TRUE(explorer.has_value()) << journal_.Text();
  EXPECT_EQ((*explorer)["args"].AsTexts(), std::vector<std::u16string>{u"http://host.example/page.html"});
  ::DeleteFileW(cookieFile.c_str());
}

struct OutcomeCase {
  const char* name;
  Environment knobs;  // of a stand-in manager; none runs without them
  const char* outcome;
  std::int64_t exitCode;
};

void PrintTo(const OutcomeCase& c, std::ostream* out) { *out << c.name; }

class BrowserHostOutcome : public BrowserHostTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(BrowserHostOutcome, FollowsWhatTheRunAchieved) {
  std::optional<StandInManager> manager;
  if (!GetParam().knobs.empty()) {
    manager.emplace(journal_, GetParam().knobs);
    ASSERT_TRUE(manager->WaitReady());
  }
  BrowserHostProcess& host = Host({{L"ZYP_QM_IDLE_MS", L"3000"}});
  host.Send(R"({"type":"add","id":1,"url":"http://outcome.example/f.zip"})");
  const std::vector<JsonValue> replies = host.Replies(1, 20s);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0]["outcome"].AsText(),
            std::u16string(GetParam().outcome, GetParam().outcome + std::strlen(GetParam().outcome)));
  EXPECT_EQ(replies[0]["exitCode"].AsInt(), GetParam().exitCode);
  EXPECT_EQ(replies[0]["id"].AsInt(), 1);
  ExpectEnd(0);
}

INSTANTIATE_TEST_SUITE_P(Cases, BrowserHostOutcome,
                         ::testing::Values(
                             // No manager: the program starts it with the address.
                             OutcomeCase{"manager_absent", {}, "delivered", 0},
                             OutcomeCase{"no_pipe", {{L"ZYP_QM_NO_PIPE", L"1"}}, "not-delivered", 2},
                             OutcomeCase{"never_reads", {{L"ZYP_QM_NO_READ", L"1"}}, "handed-over", 3},
                             OutcomeCase{"hangs_up_unread", {{L"ZYP_QM_HANG_UP_UNREAD", L"1"}}, "not-delivered", 2}),
                         [](const ::testing::TestParamInfo<OutcomeCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(BrowserHostTest, AProgramThatCannotBeStartedFails) {
  // The host alone in a folder: there is no program beside it to run.
  const std::wstring folder = TempFolder() + L"zyp-host-alone\\";
  std::filesystem::create_directories(folder);
  const std::wstring copy = folder + kBrowserHostExe;
  ASSERT_TRUE(::CopyFileW((BinFolder() + kBrowserHostExe).c_str(), copy.c_str(), FALSE));
  {
    BrowserHostProcess host({journal_.Variable()}, copy);
    host.Send(R"({"type":"add","id":"x","url":"http://alone.example/"})");
    const std::vector<JsonValue> replies = host.Replies(1, 15s);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0]["outcome"].AsText(), u"failed");
    EXPECT_FALSE(replies[0].Has("exitCode"));
    EXPECT_NE(replies[0]["message"].AsText().find(u"could not be run"), std::u16string::npos);
    host.CloseInput();
    EXPECT_TRUE(host.Wait(10s).finished);
  }
  std::filesystem::remove_all(folder);
  EXPECT_TRUE(journal_.Entries().empty()) << journal_.Text();
}

struct Refusal {
  std::string request;
  const char16_t* member;  // the message starts with it
};

TEST_F(BrowserHostTest, RefusalsNameTheMemberRunNothingAndTheHostGoesOn) {
  const Refusal refusals[] = {
      {"{\"type\":", u"not valid JSON"},
      {R"({"id":"x"})", u"type:"},  // ten bytes: the length's first byte is a line feed
      {R"({"type":"delete"})", u"type:"},
      {R"({"type":"add"})", u"url:"},
      {R"({"type":"add","url":"STOP"})", u"url:"},
      {R"({"type":"add","url":"zypqueue=http://a.example/"})", u"url:"},
      {R"({"type":"add","url":"C:\\Users\\me\\request.txt"})", u"url:"},
      {R"({"type":"add","url":"http://a.example/\r\npagetitle=x"})", u"url:"},
      {R"({"type":"add","url":"http://a.example/","cookies":7})", u"cookies:"},
      {R"({"type":"add","url":"http://a.example/","browser":"C\\H"})", u"browser:"},
      {R"({"type":"add","url":"http://a.example/","userAgent":"x\u0000"})", u"userAgent:"},
      {R"({"type":"add","url":"http://a.example/","linkText":"linkexplorer"})", u"linkText:"},
      {R"({"type":"explore","url":"http://a.example/","pageTitle":7})", u"pageTitle:"},
      {R"({"type":"list","urls":["http://a.example/","-h"]})", u"urls[1]:"},
      {R"({"type":"list","urls":[]})", u"urls:"},
      {R"({"type":"queue","action":"pause"})", u"action:"},
      {R"({"type":"status","id":[1]})", u"id:"},
  };
  BrowserHostProcess& host = Host();
  for (const Refusal& refusal : refusals) host.Send(refusal.request);
  // The length 26 starts with 0x1A, which a runtime in text mode takes for the end.
  host.Send(R"({"type":"status","id":123})");
  const std::vector<JsonValue> replies = host.Replies(std::size(refusals) + 1, 15s);
  ASSERT_EQ(replies.size(), std::size(refusals) + 1);
  for (std::size_t i = 0; i < std::size(refusals); ++i) {
    SCOPED_TRACE(refusals[i].request);
    EXPECT_EQ(replies[i]["outcome"].AsText(), u"refused");
    EXPECT_EQ(replies[i]["message"].AsText().rfind(refusals[i].member, 0), 0u)
        << Utf8Of(replies[i]["message"].AsText());
    EXPECT_FALSE(replies[i].Has("exitCode"));
  }
  EXPECT_EQ(replies.back()["manager"].AsText(), u"absent");
  EXPECT_EQ(replies.back()["id"].AsInt(), 123);
  ExpectEnd(0);
  EXPECT_TRUE(journal_.Entries().empty()) << "nothing ran\n" << journal_.Text();
}

// A cookie that a cookie list cannot carry costs that cookie, not the
// request: the others reach the site's cookie file, and with none left the
// file stays as it was.
TEST_F(BrowserHostTest, ACookieThatCannotBeCarriedIsLeftOutAloneAndTheRestArrives) {
  const std::wstring carriedFile = CookieFolder() + L"carry.example.dat";
  const std::wstring keptFile = CookieFolder() + L"kept.example.dat";
  std::filesystem::create_directories(CookieFolder());
  {
    const win32::UniqueHandle file(
        ::CreateFileW(keptFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file && ::WriteFile(file.Get(), "login=old\r\n", 11, &written, nullptr));
  }
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  BrowserHostProcess& host = Host();
  host.Send(R"({"type":"add","id":"some","url":"http://carry.example/f.zip",)"
            R"("cookies":"sid=42; odd=a\tb; lang=en; nl=\r\nlinkexplorer"})");
  host.Send(R"({"type":"add","id":"all","url":"http://kept.example/f.zip","cookies":"odd=a\tb"})");
  const std::map<std::string, JsonValue> replies = ById(host.Replies(2, 30s));
  ASSERT_EQ(replies.size(), 2u);
  for (const auto& [id, count] : {std::pair{"some", 2}, std::pair{"all", 1}}) {
    const JsonValue& reply = replies.at(id);
    EXPECT_EQ(reply["outcome"].AsText(), u"delivered") << id;
    EXPECT_EQ(reply["cookiesLeftOut"].AsInt(), count) << id;
    EXPECT_NE(reply["message"].AsText().find(u"left out"), std::u16string::npos) << id;
  }
  ExpectEnd(0);
  manager.Stop();
  std::map<std::u16string, std::u16string> cookies;
  for (const JsonValue& message : journal_.Events("message", manager.Id()))
    cookies[message["address"].AsText()] = message["cookies"].AsText();
  EXPECT_EQ(cookies[u"http://carry.example/f.zip"], u"sid=42; lang=en") << journal_.Text();
  EXPECT_EQ(cookies[u"http://kept.example/f.zip"], u"login=old") << journal_.Text();
  ::DeleteFileW(carriedFile.c_str());
  ::DeleteFileW(keptFile.c_str());
}

TEST_F(BrowserHostTest, IdsComeBackExactlyAsSent) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"type":"status","id":0.10000000000000001})", "0.10000000000000001"},
      {R"({"type":"status","id":12345678901234567890123})", "12345678901234567890123"},
      {R"({"type":"status","id":12345678901234567890124})", "12345678901234567890124"},
      {R"({"type":"status","id":-0})", "-0"},
      {R"({"type":"status","id":"caf\u00e9\ud800"})", R"("caf\u00e9\ud800")"},
      {R"({"id":1,"type":"status","\u0069d":2})", "2"},
      {R"({"id":1e400,"type":"status","extra":[1e400]})", "1e400"},
      // Refused for another reason, the reply still carries the id.
      {R"({"id":1e400,"type":"unpack"})", "1e400"},
  };
  BrowserHostProcess& host = Host();
  for (const auto& [request, id] : cases) host.Send(request);
  for (const auto& [request, id] : cases) {
    const std::optional<std::string> reply = host.NextReplyText(15s);
    ASSERT_TRUE(reply.has_value()) << request;
    EXPECT_TRUE(reply->starts_with("{\"id\":" + id + ",")) << request << " gave " << *reply;
  }
  ExpectEnd(0);
}

// A browser may end its host while a run goes on; the parameter file of that
// run holds the site's cookies. The next host that starts removes such files
// of its own, and only those; and its own runs leave none.
TEST_F(BrowserHostTest, RemovesTheParameterFilesThatEndedHostsLeftAndNoOthers) {
  const testing::ScratchFolder temp(L"host-temp");
  const Environment ownTemp = {{L"TMP", temp.Path()}, {L"TEMP", temp.Path()}};
  const std::wstring random = L"00112233445566778899aabbccddeeff";
  const auto file = [&](const std::wstring& name, std::chrono::seconds age) {
    const std::wstring path = temp.Path() + name;
    const win32::UniqueHandle made(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string bytes = "\xEF\xBB\xBFZYP Parameter File\r\nhttp://left.example/\r\ncookielist=sid=secret\r\n";
    DWORD written = 0;
    EXPECT_TRUE(made && ::WriteFile(made.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_TRUE(testing::SetWriteAge(path, age));
    return path;
  };
  const std::wstring leftBehind = file(L"ZYPBrowserHost-" + random + L".txt", 10min);
  const std::wstring anotherHostsRun = file(L"ZYPBrowserHost-f" + random.substr(1) + L".txt", 5s);
  const std::wstring notTheHosts = file(L"zyp-" + random + L".txt", 10min);
  {
    StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
    ASSERT_TRUE(manager.WaitReady());
    Environment environment = ownTemp;
    environment.push_back(journal_.Variable());
    BrowserHostProcess host(environment);
    ASSERT_TRUE(host.Started());
    host.Send(R"({"type":"add","id":1,"url":"http://temp.example/f.zip"})");
    const std::vector<JsonValue> replies = host.Replies(1, 20s);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0]["outcome"].AsText(), u"delivered");
    host.CloseInput();
    EXPECT_TRUE(host.Wait(15s).finished);
    manager.Stop();
    EXPECT_EQ(journal_.Events("message", manager.Id()).size(), 1u) << journal_.Text();
  }
  EXPECT_FALSE(FileExists(leftBehind));
  EXPECT_TRUE(FileExists(anotherHostsRun));
  EXPECT_TRUE(FileExists(notTheHosts));
  EXPECT_EQ(testing::CountFiles(temp.Path(), L"ZYPBrowserHost-*"), 1u) << "the run left its file";
  // The program made its cookie folder in that temporary folder too.
  std::filesystem::remove_all(temp.Path() + L"ZYP");
}

struct FramingFault {
  const char* name;
  std::string bytes;  // after one request that runs
};

void PrintTo(const FramingFault& c, std::ostream* out) { *out << c.name; }

class BrowserHostFramingFault : public BrowserHostTest, public ::testing::WithParamInterface<FramingFault> {};

TEST_P(BrowserHostFramingFault, EndsTheHostOnceWhatRunsIsAnswered) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  BrowserHostProcess& host = Host();
  host.Send(R"({"type":"add","id":1,"url":"http://framing.example/"})");
  host.SendRaw(GetParam().bytes);
  host.CloseInput();
  const std::vector<JsonValue> replies = host.Replies(1, 15s);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0]["outcome"].AsText(), u"delivered");
  const RunResult end = host.Wait(15s);
  EXPECT_TRUE(end.finished);
  EXPECT_EQ(end.exitCode, 1u);
  EXPECT_FALSE(host.NextReplyText(0ms).has_value()) << "the fault itself gets no reply";
  EXPECT_EQ(host.LeftOverBytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrowserHostFramingFault,
    ::testing::Values(FramingFault{"length_over_64_mib", std::string("\x01\x00\x00\x04{\"type\":\"status\"}", 21)},
                      FramingFault{"largest_length", std::string("\xff\xff\xff\xff", 4)},
                      FramingFault{"ends_inside_the_length", std::string("\x10\x00", 2)},
                      FramingFault{"ends_inside_the_message", std::string("\x40\x00\x00\x00{\"type\":", 12)}),
    [](const ::testing::TestParamInfo<FramingFault>& info) { return std::string(info.param.name); });

TEST_F(BrowserHostTest, InputEndingWithRunsInFlightIsAnsweredFirst) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  BrowserHostProcess& host = Host();
  for (int i = 0; i < 3; ++i)
    host.Send(R"({"type":"add","id":)" + std::to_string(i) + R"(,"url":"http://flight.example/)" + std::to_string(i) +
              "\"}");
  host.CloseInput();
  const std::vector<JsonValue> replies = host.Replies(3, 20s);
  ASSERT_EQ(replies.size(), 3u);
  for (const JsonValue& reply : replies) EXPECT_EQ(reply["outcome"].AsText(), u"delivered");
  const RunResult end = host.Wait(15s);
  EXPECT_TRUE(end.finished);
  EXPECT_EQ(end.exitCode, 0u);
  manager.Stop();
  EXPECT_EQ(journal_.Events("message", manager.Id()).size(), 3u) << journal_.Text();
}

// Each run takes the program's closing pause, so eight at a time deliver
// about six a second: the test runs 100 here, bench/host/run.sh all 1,000.
TEST_F(BrowserHostTest, PipelinedRequestsAreEachAnsweredAndDeliveredOnce) {
  const int count = static_cast<int>(SizeFromEnvironment(L"ZYP_HOST_PIPELINED", 100));
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  BrowserHostProcess& host = Host();
  for (int i = 0; i < count; ++i)
    ASSERT_TRUE(host.Send(R"({"type":"add","id":"r)" + std::to_string(i) + R"(","url":"http://many.example/)" +
                          std::to_string(i) + "\"}"));
  host.CloseInput();
  const std::map<std::string, JsonValue> replies = ById(host.Replies(count, 600s));
  ASSERT_EQ(replies.size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto reply = replies.find("r" + std::to_string(i));
    ASSERT_NE(reply, replies.end()) << "no reply for r" << i;
    EXPECT_EQ(reply->second["outcome"].AsText(), u"delivered") << "r" << i;
  }
  EXPECT_TRUE(host.Wait(15s).finished);
  manager.Stop();
  std::set<std::u16string> addresses;
  for (const JsonValue& message : journal_.Events("message", manager.Id()))
    EXPECT_TRUE(addresses.insert(message["address"].AsText()).second)
        << "delivered twice: " << Utf8Of(message["address"].AsText());
  EXPECT_EQ(addresses.size(), static_cast<std::size_t>(count));
}

// The longest list the extension sends whole, as many addresses as it
// allows filling its bytes, must reach the manager within the program's run:
// anything the page holds beyond it is counted as left out, never lost.
TEST_F(BrowserHostTest, AListAtTheExtensionsCapIsDelivered) {
  constexpr std::size_t kCapBytes = ZYP_EXTENSION_LIST_BYTES;
  constexpr std::size_t kCapAddresses = ZYP_EXTENSION_LIST_LENGTH;
  // Exactly as the extension counts: the request without its id, one comma
  // between two addresses.
  const std::string head = R"({"type":"list","urls":[)", tail = "]}";
  const std::size_t room = kCapBytes - head.size() - tail.size() - (kCapAddresses - 1) - 2 * kCapAddresses;
  std::string request = head, list;
  for (std::size_t i = 0; i < kCapAddresses; ++i) {
    std::string address = "http://cap.example.com/" + std::to_string(i) + "/";
    address.resize(room / kCapAddresses + (i < room % kCapAddresses ? 1 : 0), 'x');
    request += (i == 0 ? "\"" : ",\"") + address + "\"";
    list += (i == 0 ? "" : " ") + address;
  }
  request += tail;
  ASSERT_EQ(request.size(), kCapBytes);
  request.insert(1, R"("id":"cap",)");

  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  BrowserHostProcess& host = Host();
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(host.Send(request));
  const std::vector<JsonValue> replies = host.Replies(1, 60s);
  std::printf("a list at the extension's cap: %zu addresses, %zu bytes of request, answered in %lld ms\n",
              kCapAddresses, kCapBytes,
              static_cast<long long>(
                  std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now() - sent).count()));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0]["outcome"].AsText(), u"delivered") << Utf8Of(replies[0]["message"].AsText());
  ExpectEnd(0);
  manager.Stop();
  const std::vector<JsonValue> messages = journal_.Events("message", manager.Id());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["size"].AsInt(), static_cast<std::int64_t>(list.size() + 8)) << "ADDURLS: and the list";
  EXPECT_TRUE(messages[0]["list"].AsText() == std::u16string(list.begin(), list.end())) << "the list arrived changed";
}

}  // namespace
}  // namespace zyp::e2e
