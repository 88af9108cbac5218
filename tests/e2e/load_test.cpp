// Load on the real program beside the stand-in queue manager: many copies
// started at once, many requests one after another, and the longest list a
// request can carry. Every request arrives exactly once and unchanged, every
// cookie file holds its list, and every run ends with exit code 0 within the
// bound. The sizes are small here; bench/load/run.sh runs the same tests at
// full size (ZYP_LOAD_AT_ONCE, ZYP_LOAD_IN_A_ROW) and prints the figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

std::wstring Number(std::size_t n) {
  const std::wstring digits = std::to_wstring(n);
  return std::wstring(digits.size() < 4 ? 4 - digits.size() : 0, L'0') + digits;
}

// One request of a run: its own site, cookie list and page title.
struct Request {
  std::wstring address;
  std::wstring cookieList;
  std::wstring title;
  std::wstring cookieFile;

  explicit Request(std::size_t n)
      : address(L"http://www.load" + Number(n) + L".com/file-" + Number(n) + L".zip"),
        cookieList(L"id=" + Number(n) + L"; session=s" + Number(n * 7919 % 10007) + L"; lang=en"),
        title(L"Page " + Number(n) + L" caf\u00e9"),
        cookieFile(CookieFolder() + L"load" + Number(n) + L".com.dat") {
    ::DeleteFileW(cookieFile.c_str());
  }
  ~Request() { ::DeleteFileW(cookieFile.c_str()); }
  Request(Request&&) = default;

  std::wstring Arguments() const {
    return address + L" \"cookielist=" + cookieList + L"\" \"pagetitle=" + title + L"\"";
  }
  std::string Message() const { return Utf8(L"ADDURL:" + address + L"[<{(" + title + L")}>]"); }
};

struct Durations {
  std::vector<Milliseconds> runs;

  void Print(const char* what, Milliseconds wall) {
    std::sort(runs.begin(), runs.end());
    if (runs.empty()) return;
    std::printf(
        "%s: %zu runs, run time min %lld ms, median %lld ms, max %lld ms; all of them in %lld ms (%.2f runs/s)\n", what,
        runs.size(), static_cast<long long>(runs.front().count()),
        static_cast<long long>(runs[runs.size() / 2].count()), static_cast<long long>(runs.back().count()),
        static_cast<long long>(wall.count()), 1000.0 * static_cast<double>(runs.size()) / wall.count());
    std::fflush(stdout);
    ::testing::Test::RecordProperty("median_ms", static_cast<int>(runs[runs.size() / 2].count()));
    ::testing::Test::RecordProperty("max_ms", static_cast<int>(runs.back().count()));
    ::testing::Test::RecordProperty("wall_ms", static_cast<int>(wall.count()));
  }
};

class LoadTest : public ManagerFreeTest {};

TEST_F(LoadTest, ManyAtOnceEachArriveOnceWithTheirCookies) {
  const std::size_t count = SizeFromEnvironment(L"ZYP_LOAD_AT_ONCE", 20);
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"600000"}});
  ASSERT_TRUE(manager.WaitReady());
  std::vector<Request> requests;
  for (std::size_t i = 0; i < count; ++i) requests.emplace_back(i);

  using Clock = std::chrono::steady_clock;
  std::vector<ChildProcess> programs;
  std::vector<Clock::time_point> starts;
  programs.reserve(count);
  const auto first = Clock::now();
  for (const Request& request : requests) {
    starts.push_back(Clock::now());
    programs.emplace_back(kProgramExe, request.Arguments(), Environment{journal_.Variable()});
    ASSERT_TRUE(programs.back().Started());
  }
  // Each end is seen within a few milliseconds of happening.
  Durations durations;
  std::vector<DWORD> exitCodes(count, STILL_ACTIVE);
  std::size_t running = count;
  const auto deadline = Clock::now() + kRunBound * 2 + Milliseconds(200) * count;
  while (running > 0 && Clock::now() < deadline) {
    for (std::size_t i = 0; i < count; ++i) {
      if (exitCodes[i] != STILL_ACTIVE || ::WaitForSingleObject(programs[i].Process(), 0) != WAIT_OBJECT_0) continue;
      durations.runs.push_back(std::chrono::duration_cast<Milliseconds>(Clock::now() - starts[i]));
      ::GetExitCodeProcess(programs[i].Process(), &exitCodes[i]);
      --running;
    }
    ::Sleep(2);
  }
  const auto wall = std::chrono::duration_cast<Milliseconds>(Clock::now() - first);
  durations.Print("at once", wall);
  ASSERT_EQ(running, 0u) << "still running at the deadline";
  EXPECT_EQ(std::count(exitCodes.begin(), exitCodes.end(), 0u), static_cast<std::ptrdiff_t>(count));
  EXPECT_LE(durations.runs.back(), kRunBound);

  manager.Stop();
  std::map<std::u16string, const JsonValue*> arrived;
  const auto messages = journal_.Events("message", manager.Id());
  for (const JsonValue& message : messages)
    EXPECT_TRUE(arrived.emplace(message["bytes_hex"].AsText(), &message).second) << "arrived twice";
  EXPECT_EQ(messages.size(), count);
  for (const Request& request : requests) {
    const auto found = arrived.find(HexBytes(request.Message()));
    EXPECT_NE(found, arrived.end()) << "lost or changed: " << request.Message();
    if (found == arrived.end()) continue;
    // Read by the stand-in when the message arrived, and still there.
    EXPECT_TRUE((*found->second)["cookies"].AsText() ==
                std::u16string(request.cookieList.begin(), request.cookieList.end()));
    EXPECT_EQ(FileBytes(request.cookieFile), Utf8(request.cookieList) + "\r\n");
  }
}

TEST_F(LoadTest, ManyInARowArriveInOrder) {
  const std::size_t count = SizeFromEnvironment(L"ZYP_LOAD_IN_A_ROW", 20);
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"600000"}});
  ASSERT_TRUE(manager.WaitReady());
  Durations durations;
  std::size_t delivered = 0;
  std::vector<std::string> sent;
  const auto first = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < count; ++i) {
    const std::wstring address = L"http://row.example.com/" + Number(i) + L"?q=\u00e9";
    const std::wstring title = L"Row " + Number(i);
    const RunResult run =
        RunProgram(kProgramExe, address + L" \"linktext=" + title + L"\"", {journal_.Variable()}, kRunBound + 10s);
    sent.push_back(Utf8(L"ADDURL:" + address + L"[<{(" + title + L")}>]"));
    durations.runs.push_back(run.elapsed);
    if (run.finished && run.exitCode == 0) ++delivered;
    EXPECT_LE(run.elapsed, kRunBound);
  }
  durations.Print("in a row", std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now() - first));
  EXPECT_EQ(delivered, count) << "runs with exit code 0";

  manager.Stop();
  const auto messages = journal_.Events("message", manager.Id());
  ASSERT_EQ(messages.size(), count);
  std::size_t exact = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (messages[i]["bytes_hex"].AsText() == HexBytes(sent[i]))
      ++exact;
    else
      ADD_FAILURE() << "message " << i << " out of order or changed";
  }
  std::printf("in a row: %zu of %zu arrived in order and unchanged\n", exact, count);
}

// A list request is recognised by the first command-line argument only, so
// the command line bounds its length: as many addresses as fit.
TEST_F(LoadTest, LongestListTheCommandLineCarriesArrivesWhole) {
  const std::wstring program = L"\"" + BinFolder() + kProgramExe + L"\" ";
  std::wstring list;
  std::size_t addresses = 0;
  for (;; ++addresses) {
    const std::wstring next = (addresses == 0 ? L"" : L" ") + (L"http://list.example.com/" + Number(addresses));
    // Quotes around "zypqueue=" and the list, and the terminating zero.
    if (program.size() + 2 + 9 + list.size() + next.size() + 1 > kCommandLineLimit) break;
    list += next;
  }
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  const RunResult run = RunProgram(kProgramExe, L"\"zypqueue=" + list + L"\"", {journal_.Variable()}, kRunBound + 10s);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  manager.Stop();
  const auto messages = journal_.Events("message", manager.Id());
  ASSERT_EQ(messages.size(), 1u);
  const std::string bytes = Utf8(L"ADDURLS:" + list);
  EXPECT_TRUE(messages[0]["bytes_hex"].AsText() == HexBytes(bytes));
  std::printf("longest list: %zu addresses, %zu characters of list, %zu bytes on the pipe, run %lld ms\n", addresses,
              list.size(), bytes.size(), static_cast<long long>(run.elapsed.count()));
  RecordProperty("addresses", static_cast<int>(addresses));
}

// A parameter file carries any length: an address line that begins with
// "zypqueue=" makes it a list request, and 10,000 addresses with non-ASCII
// characters arrive as one list message, byte for byte. The other lines are
// ignored, as after a list on the command line.
TEST_F(LoadTest, ListInAParameterFileArrivesWholeAsOneList) {
  std::wstring list;
  for (std::size_t i = 0; i < 10000; ++i)
    list += (i == 0 ? L"" : L" ") + (L"http://list.example.com/caf\u00e9-\u4e2d-" + Number(i) + L"?\U0001F600");
  RequestFile file(L"list.txt",
                   {L"ZYP Parameter File", L"zypqueue=" + list, L"linktext=ignored", L"pagetitle=ignored"});
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  const RunResult run = RunProgram(kProgramExe, L"\"" + file.Path() + L"\"", {journal_.Variable()}, kRunBound + 10s);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  manager.Stop();
  const auto messages = journal_.Events("message", manager.Id());
  ASSERT_EQ(messages.size(), 1u);
  const std::string bytes = Utf8(L"ADDURLS:" + list);
  EXPECT_TRUE(messages[0]["bytes_hex"].AsText() == HexBytes(bytes)) << "the list arrived changed";
  EXPECT_GT(messages[0]["packets"].AsInt(), 3) << "start packet, pieces, end packet";
  EXPECT_FALSE(FileExists(file.Path())) << "read and deleted";
  std::printf("list in a parameter file: 10000 addresses, %zu bytes in %lld packets, run %lld ms\n", bytes.size(),
              static_cast<long long>(messages[0]["packets"].AsInt()), static_cast<long long>(run.elapsed.count()));
}

}  // namespace
}  // namespace zyp::e2e
