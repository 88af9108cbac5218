#include "messaging/host_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "intake/utf8.h"
#include "messaging/native_framing.h"
#include "platform/error.h"
#include "tests/fakes/fake_desktop.h"

namespace zyp::messaging {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

// The browser's side of the pipes: the frames it sends, and the replies.
class BrowserPipes : public platform::ByteInput, public platform::ByteOutput {
 public:
  explicit BrowserPipes(std::string bytes) : bytes_(std::move(bytes)) {}
  std::size_t Read(void* buffer, std::size_t size) override {
    const std::size_t count = std::min(size, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, count);
    at_ += count;
    return count;
  }
  void Write(const void* data, std::size_t size) override {
    const std::lock_guard lock(lock_);
    if (closed) throw PlatformError(232, u"The pipe is being closed.", "WriteFile");
    written_.append(static_cast<const char*>(data), size);
    ++replies_;
    replied_.notify_all();
  }
  bool WaitForReplies(std::size_t count) {
    std::unique_lock lock(lock_);
    return replied_.wait_for(lock, 10s, [&] { return replies_ >= count; });
  }
  std::vector<Json> Replies() {
    const std::lock_guard lock(lock_);
    std::vector<Json> replies;
    for (std::size_t at = 0; at + 4 <= written_.size();) {
      std::uint32_t length = 0;
      std::memcpy(&length, written_.data() + at, 4);
      replies.push_back(Json::parse(written_.substr(at + 4, length)));
      at += 4 + length;
    }
    return replies;
  }
  bool closed = false;

 private:
  std::string bytes_;
  std::size_t at_ = 0;
  std::mutex lock_;
  std::condition_variable replied_;
  std::string written_;
  std::size_t replies_ = 0;
};

// Runs "the program": each run reads its parameter file, then waits until
// the test lets it end with the exit code it chose.
class FakePrograms : public platform::ChildPrograms, public platform::PrivateFiles {
 public:
  std::uint32_t RunToEnd(const std::u16string& program, const std::u16string& arguments,
                         std::uint32_t limitMs) override {
    std::unique_lock lock(lock_);
    EXPECT_EQ(program, u"C:\\ZYP\\ZYPQueueAddURL.exe");
    EXPECT_EQ(limitMs, HostSession::kRunLimitMs);
    const std::size_t run = started.size();
    std::string file;
    if (arguments.size() > 2 && arguments.front() == u'"') {
      const std::u16string path = arguments.substr(1, arguments.size() - 2);
      file = files.at(path);
      if (deleteFiles) files.erase(path);
    }
    started.push_back({intake::ToUtf8(arguments), file});
    ++running;
    most = std::max(most, running);
    changed_.notify_all();
    changed_.wait(lock, [&] { return exitCodes.count(run) != 0; });
    --running;
    if (exitCodes[run] < 0) throw PlatformError(2, u"The system cannot find the file specified.", "CreateProcessW");
    return static_cast<std::uint32_t>(exitCodes[run]);
  }
  std::u16string CreateTempFile(std::u16string_view prefix, std::string_view bytes) override {
    const std::lock_guard lock(lock_);
    EXPECT_EQ(prefix, HostSession::kParameterFilePrefix);
    const std::u16string path =
        tempFolder + std::u16string(prefix) + intake::FromUtf8(std::to_string(++made_)) + u".txt";
    files[path] = std::string(bytes);
    written.push_back({path, running});
    return path;
  }
  std::size_t RemoveStaleTempFiles(std::u16string_view prefix, std::uint64_t ageMs, std::size_t maxNames) override {
    const std::lock_guard lock(lock_);
    sweeps.push_back({std::u16string(prefix), ageMs, maxNames, started.size()});
    return 0;
  }
  void RemoveIfPresent(const std::u16string& path) override {
    const std::lock_guard lock(lock_);
    files.erase(path);
  }

  // Ends run number run (from 0) with the exit code; -1 fails its start.
  void End(std::size_t run, int exitCode) {
    const std::lock_guard lock(lock_);
    exitCodes[run] = exitCode;
    changed_.notify_all();
  }
  // The run whose arguments or parameter file hold the text: the workers
  // start runs in any order.
  std::size_t RunOf(const std::string& text) {
    const std::lock_guard lock(lock_);
    for (std::size_t run = 0; run < started.size(); ++run)
      if (started[run].arguments.find(text) != std::string::npos || started[run].file.find(text) != std::string::npos)
        return run;
    ADD_FAILURE() << "no run holds " << text;
    return started.size();
  }
  void EndAll(int exitCode, std::size_t count) {
    for (std::size_t run = 0; run < count; ++run) End(run, exitCode);
  }
  bool WaitForStarted(std::size_t count) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, 10s, [&] { return started.size() >= count; });
  }
  bool WaitForRunning(std::size_t count) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, 10s, [&] { return running == count; });
  }
  std::size_t Running() {
    const std::lock_guard lock(lock_);
    return running;
  }

  struct Started {
    std::string arguments;
    std::string file;
  };
  std::vector<Started> started;
  // Each parameter file, with how many runs were going when it was written.
  struct Written {
    std::u16string path;
    std::size_t runsGoing;
  };
  std::vector<Written> written;
  struct Sweep {
    std::u16string prefix;
    std::uint64_t ageMs;
    std::size_t maxNames;
    std::size_t runsStartedBefore;
  };
  std::vector<Sweep> sweeps;
  std::map<std::u16string, std::string> files;
  std::map<std::size_t, int> exitCodes;
  std::u16string tempFolder = u"C:\\Temp\\";
  bool deleteFiles = true;
  std::size_t running = 0;
  std::size_t most = 0;

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int made_ = 0;
};

std::string Requests(const std::vector<std::string>& texts) {
  std::string bytes;
  for (const std::string& text : texts) bytes += FrameText(text);
  return bytes;
}

std::string Add(int id) {
  return R"({"type":"add","id":)" + std::to_string(id) + R"(,"url":"http://a.example/)" + std::to_string(id) + "\"}";
}

class HostSessionTest : public ::testing::Test {
 protected:
  // Serves on a thread of its own; the test plays the program meanwhile.
  void Start(std::string input) {
    pipes_ = std::make_unique<BrowserPipes>(std::move(input));
    server_ = std::thread([this] {
      HostSession session({*pipes_, *pipes_, programs_, programs_, desktop_, u"C:\\ZYP\\ZYPQueueAddURL.exe", "1.2.3"});
      exitCode_ = session.Serve();
    });
  }
  int Finish() {
    server_.join();
    return exitCode_;
  }
  void TearDown() override {
    if (server_.joinable()) {
      programs_.EndAll(0, 100000);
      server_.join();
    }
  }

  FakePrograms programs_;
  fakes::FakeDesktop desktop_;
  std::unique_ptr<BrowserPipes> pipes_;
  std::thread server_;
  int exitCode_ = -1;
};

TEST_F(HostSessionTest, RunsEightAtOnceAndAnswersEveryRequest) {
  std::vector<std::string> texts;
  for (int id = 0; id < 20; ++id) texts.push_back(Add(id));
  Start(Requests(texts));
  ASSERT_TRUE(programs_.WaitForRunning(8));
  // The ninth waits for a run to end, and is not dropped.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(programs_.Running(), 8u);
  programs_.EndAll(0, 20);
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(programs_.most, 8u);
  const std::vector<Json> replies = pipes_->Replies();
  ASSERT_EQ(replies.size(), 20u);
  std::vector<int> ids;
  for (const Json& reply : replies) {
    EXPECT_EQ(reply["outcome"], "delivered");
    EXPECT_EQ(reply["exitCode"], 0);
    ids.push_back(reply["id"].get<int>());
  }
  std::sort(ids.begin(), ids.end());
  for (int id = 0; id < 20; ++id) EXPECT_EQ(ids[id], id);
  EXPECT_TRUE(programs_.files.empty());
}

TEST_F(HostSessionTest, WritesAParameterFileOnlyAsItsRunStarts) {
  std::vector<std::string> texts;
  for (int id = 0; id < 9; ++id) texts.push_back(Add(id));
  Start(Requests(texts));
  ASSERT_TRUE(programs_.WaitForRunning(8));
  // The ninth waits for its turn without a file: a file is never older than
  // its run, so a host that starts meanwhile never takes it for one left over.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(programs_.written.size(), 8u);
  programs_.End(0, 0);
  ASSERT_TRUE(programs_.WaitForStarted(9));
  programs_.EndAll(0, 9);
  EXPECT_EQ(Finish(), 0);
  ASSERT_EQ(programs_.written.size(), 9u);
  for (const FakePrograms::Written& file : programs_.written) EXPECT_LT(file.runsGoing, HostSession::kMaxRuns);
  EXPECT_TRUE(programs_.files.empty());
}

TEST_F(HostSessionTest, FirstRemovesTheParameterFilesThatEndedHostsLeft) {
  Start(Requests({Add(1)}));
  ASSERT_TRUE(programs_.WaitForRunning(1));
  programs_.End(0, 0);
  EXPECT_EQ(Finish(), 0);
  ASSERT_EQ(programs_.sweeps.size(), 1u);
  const FakePrograms::Sweep& sweep = programs_.sweeps[0];
  EXPECT_EQ(sweep.prefix, u"ZYPBrowserHost-");
  // Older than any file of a running host can be.
  EXPECT_EQ(sweep.ageMs, HostSession::kRunLimitMs);
  EXPECT_GT(sweep.maxNames, HostSession::kMaxRuns);
  EXPECT_EQ(sweep.runsStartedBefore, 0u);
}

TEST_F(HostSessionTest, CookiesLeftOutAreCountedInTheReplyAndTheRestGoesToTheProgram) {
  Start(Requests({R"({"type":"add","id":"some","url":"http://a.example/s","cookies":"a=1; b=x\ty; c=3"})",
                  R"({"type":"add","id":"all","url":"http://a.example/a","cookies":"b=\u0001; c=\u2028"})",
                  R"({"type":"add","id":"none","url":"http://a.example/n","cookies":"a=1"})"}));
  ASSERT_TRUE(programs_.WaitForRunning(3));
  EXPECT_NE(programs_.started[programs_.RunOf("/s\r\n")].file.find("\r\ncookielist=a=1; c=3\r\n"), std::string::npos);
  EXPECT_EQ(programs_.started[programs_.RunOf("/a\r\n")].file.find("cookielist"), std::string::npos);
  programs_.End(programs_.RunOf("/s\r\n"), 0);
  programs_.End(programs_.RunOf("/a\r\n"), 2);
  programs_.End(programs_.RunOf("/n\r\n"), 0);
  EXPECT_EQ(Finish(), 0);
  std::map<std::string, Json> replies;
  for (const Json& reply : pipes_->Replies()) replies[reply["id"]] = reply;
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies["some"]["outcome"], "delivered");
  EXPECT_EQ(replies["some"]["cookiesLeftOut"], 1);
  EXPECT_EQ(replies["some"]["message"].get<std::string>().rfind("delivered; 1 of the site's cookies was left out", 0),
            0u);
  EXPECT_EQ(replies["all"]["outcome"], "not-delivered");
  EXPECT_EQ(replies["all"]["cookiesLeftOut"], 2);
  EXPECT_NE(replies["all"]["message"].get<std::string>().find("cookie file stays as it was"), std::string::npos);
  EXPECT_EQ(replies["none"], Json::parse(R"({"id":"none","outcome":"delivered","exitCode":0,"message":"delivered"})"));
}

TEST_F(HostSessionTest, RepliesInTheOrderRunsEnd) {
  Start(Requests({Add(1), Add(2), R"({"type":"queue","action":"stop","id":"q"})"}));
  ASSERT_TRUE(programs_.WaitForRunning(3));
  programs_.End(programs_.RunOf("STOP"), 0);
  ASSERT_TRUE(pipes_->WaitForReplies(1));
  programs_.End(programs_.RunOf("a.example/2"), 3);
  ASSERT_TRUE(pipes_->WaitForReplies(2));
  programs_.End(programs_.RunOf("a.example/1"), 2);
  EXPECT_EQ(Finish(), 0);
  const std::vector<Json> replies = pipes_->Replies();
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0], Json::parse(R"({"id":"q","outcome":"delivered","exitCode":0,"message":"delivered"})"));
  EXPECT_EQ(replies[1]["id"], 2);
  EXPECT_EQ(replies[1]["outcome"], "handed-over");
  EXPECT_EQ(replies[2]["id"], 1);
  EXPECT_EQ(replies[2]["outcome"], "not-delivered");
}

TEST_F(HostSessionTest, GivesTheProgramAFileOrTheControlWord) {
  Start(Requests({R"({"type":"explore","url":"http://a.example/x y"})",
                  R"({"type":"add","url":"http://a.example/","pageTitle":"T"})"}));
  ASSERT_TRUE(programs_.WaitForRunning(1));
  programs_.EndAll(0, 1);
  EXPECT_EQ(Finish(), 0);
  ASSERT_EQ(programs_.started.size(), 1u);
  EXPECT_EQ(programs_.started[0].arguments, "\"C:\\Temp\\ZYPBrowserHost-1.txt\"");
  EXPECT_EQ(programs_.started[0].file, "\xEF\xBB\xBFZYP Parameter File\r\nhttp://a.example/\r\npagetitle=T\r\n");
  const std::vector<Json> replies = pipes_->Replies();
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0]["outcome"], "refused");  // the blank in the address: nothing ran
}

TEST_F(HostSessionTest, AnswersStatusAndRefusalsAtOnceAndGoesOn) {
  desktop_.windows[u"TfrmZYPQueueManager"] = 0x1234;
  Start(Requests({R"({"type":"status","id":1})", "not json", R"({"type":"nope","id":"x"})", Add(4)}));
  ASSERT_TRUE(programs_.WaitForRunning(1));
  const std::vector<Json> early = pipes_->Replies();
  ASSERT_EQ(early.size(), 3u);
  EXPECT_EQ(early[0], Json::parse(R"({"id":1,"manager":"running","version":"1.2.3"})"));
  EXPECT_EQ(early[1]["outcome"], "refused");
  EXPECT_EQ(early[1].count("id"), 0u);
  EXPECT_EQ(early[2]["id"], "x");
  EXPECT_EQ(early[2].count("exitCode"), 0u);
  programs_.End(0, 0);
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(pipes_->Replies().size(), 4u);
}

TEST_F(HostSessionTest, AFramingFaultEndsTheHostOnceTheRunsAreAnswered) {
  Start(Requests({Add(1), Add(2)}) + std::string("\xff\xff\xff\xff", 4));
  ASSERT_TRUE(programs_.WaitForRunning(2));
  programs_.EndAll(0, 2);
  EXPECT_EQ(Finish(), 1);
  EXPECT_EQ(pipes_->Replies().size(), 2u);
}

TEST_F(HostSessionTest, ARunThatCannotStartFailsAndItsFileGoes) {
  programs_.deleteFiles = false;
  Start(Requests({Add(1), Add(2)}));
  ASSERT_TRUE(programs_.WaitForRunning(2));
  programs_.End(programs_.RunOf("a.example/1"), -1);
  programs_.End(programs_.RunOf("a.example/2"), 1);
  EXPECT_EQ(Finish(), 0);
  const std::vector<Json> replies = pipes_->Replies();
  ASSERT_EQ(replies.size(), 2u);
  for (const Json& reply : replies) EXPECT_EQ(reply["outcome"], "failed");
  const Json& notStarted = replies[0]["id"] == 1 ? replies[0] : replies[1];
  EXPECT_EQ(notStarted.count("exitCode"), 0u);
  EXPECT_NE(notStarted["message"].get<std::string>().find("could not be run"), std::string::npos);
  EXPECT_TRUE(programs_.files.empty()) << "the host removes what the program left";
}

TEST_F(HostSessionTest, ATemporaryFolderThatIsNoDrivePathRunsNothing) {
  programs_.tempFolder = u"\\\\server\\share\\";
  Start(Requests({Add(1)}));
  EXPECT_EQ(Finish(), 0);
  const std::vector<Json> replies = pipes_->Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0]["outcome"], "failed");
  EXPECT_TRUE(programs_.started.empty());
  EXPECT_TRUE(programs_.files.empty());
}

TEST_F(HostSessionTest, ABrowserThatHasGoneStillGetsItsRunsDone) {
  pipes_ = nullptr;
  Start(Requests({Add(1), Add(2)}));
  ASSERT_TRUE(programs_.WaitForRunning(2));
  pipes_->closed = true;
  programs_.EndAll(0, 2);
  EXPECT_EQ(Finish(), 1);
  EXPECT_EQ(programs_.started.size(), 2u);
}

}  // namespace
}  // namespace zyp::messaging
