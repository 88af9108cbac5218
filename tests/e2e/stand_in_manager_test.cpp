// The stand-in queue manager is the tests' witness, so it is checked first:
// it reassembles framed messages byte for byte, and a second copy hands its
// work to the running one instead of taking over its window.
#include <gtest/gtest.h>

#include "pipes/framing.h"
#include "tests/e2e/harness.h"

namespace zyp::e2e {
namespace {

class StandInManagerTest : public ManagerFreeTest {};

TEST_F(StandInManagerTest, ReassemblesFramedMessagesByteForByte) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());

  // 100000 bytes behind the prefix, every byte value among them.
  std::vector<std::uint8_t> large;
  for (const char c : std::string_view("ADDURL:")) large.push_back(static_cast<std::uint8_t>(c));
  for (std::uint32_t i = 0; large.size() < 100000; ++i) large.push_back(static_cast<std::uint8_t>(i * 7 + (i >> 8)));
  const auto start = pipes::MakeControlPacket(pipes::kStartMarker);
  const auto end = pipes::MakeControlPacket(pipes::kEndMarker);
  const std::span<const std::uint8_t> all(large);

  RawPipeClient client;
  ASSERT_TRUE(client.Connect(kManagerPipe, 5s)) << client.LastError();
  ASSERT_TRUE(client.WriteMessage("ADDURL:abc[<{(xyz)}>]"));
  ASSERT_TRUE(client.WriteMessage(end));  // stray end packet: ignored
  ASSERT_TRUE(client.WriteMessage(start));
  ASSERT_TRUE(client.WriteMessage(all.first(pipes::kMaxPipeWrite)));
  ASSERT_TRUE(client.WriteMessage(all.subspan(pipes::kMaxPipeWrite)));
  ASSERT_TRUE(client.WriteMessage(end));
  ASSERT_TRUE(client.Flush());
  client.Close();
  ASSERT_TRUE(journal_.WaitFor("disconnect", 5s)) << journal_.Text();
  manager.Stop();

  const auto messages = journal_.Events("message");
  ASSERT_EQ(messages.size(), 2u) << journal_.Text();
  EXPECT_EQ(messages[0]["kind"].AsText(), u"ADDURL");
  EXPECT_EQ(messages[0]["address"].AsText(), u"abc");
  EXPECT_TRUE(messages[0]["has_extra"].AsBool());
  EXPECT_EQ(messages[0]["extra"].AsText(), u"xyz");
  EXPECT_EQ(messages[0]["size"].AsInt(), 21);

  EXPECT_EQ(messages[1]["kind"].AsText(), u"ADDURL");
  EXPECT_EQ(messages[1]["size"].AsInt(), 100000);
  EXPECT_EQ(messages[1]["packets"].AsInt(), 4);
  EXPECT_TRUE(messages[1]["bytes_hex"].AsText() == HexBytes(large)) << "the large message arrived changed";
}

TEST_F(StandInManagerTest, SecondCopyHandsItsCommandLineToTheRunningOne) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"60000"}});
  ASSERT_TRUE(manager.WaitReady());
  const HWND window = FindManagerWindow();
  ASSERT_NE(window, nullptr);

  for (const wchar_t* arguments : {L"\"abc[<{(xyz)}>]\"", L"start"}) {
    const RunResult second = RunProgram(kManagerExe, arguments, {journal_.Variable()});
    ASSERT_TRUE(second.finished) << "the second copy must not stay";
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_EQ(FindManagerWindow(), window);
  }
  ASSERT_TRUE(journal_.WaitFor("progress", 5s)) << journal_.Text();
  manager.Stop();

  const auto messages = journal_.Events("message", manager.Id());
  ASSERT_EQ(messages.size(), 1u) << journal_.Text();
  EXPECT_EQ(messages[0]["address"].AsText(), u"abc");
  EXPECT_EQ(messages[0]["extra"].AsText(), u"xyz");
  const auto progress = journal_.Events("progress", manager.Id());
  ASSERT_EQ(progress.size(), 1u);
  EXPECT_EQ(progress[0]["wparam"].AsInt(), 101);
  EXPECT_EQ(progress[0]["lparam"].AsInt(), 1);
  EXPECT_EQ(journal_.Events("ready").size(), 1u) << "only the first copy runs a queue";
}

// The knobs let later tests meet a manager that misbehaves; each must do
// what it says.
TEST_F(StandInManagerTest, KnobsShapeWhatClientsMeet) {
  {
    StandInManager manager(journal_, {{L"ZYP_QM_NO_PIPE", L"1"}});
    ASSERT_TRUE(manager.WaitReady());
    RawPipeClient client;
    EXPECT_FALSE(client.Connect(kManagerPipe, 300ms));
    EXPECT_EQ(client.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
  {
    StandInManager manager(journal_, {{L"ZYP_QM_BUSY", L"1"}});
    ASSERT_TRUE(manager.WaitReady());
    RawPipeClient client;
    EXPECT_FALSE(client.Connect(kManagerPipe, 300ms));
    EXPECT_EQ(client.LastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  }
  {
    StandInManager manager(journal_, {{L"ZYP_QM_SLOW_READ_MS", L"500"}, {L"ZYP_QM_REPLY", L"got it"}});
    ASSERT_TRUE(manager.WaitReady());
    RawPipeClient client;
    ASSERT_TRUE(client.Connect(kManagerPipe, 5s));
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.WriteMessage("ADDURL:slow"));
    ASSERT_TRUE(client.Flush());
    EXPECT_GE(std::chrono::steady_clock::now() - before, 400ms) << "the reader waits before it reads";
    EXPECT_EQ(client.ReadMessage(5s), std::optional<std::string>("got it"));
  }
  {
    StandInManager manager(journal_, {{L"ZYP_QM_CLOSE_AFTER", L"1"}});
    ASSERT_TRUE(manager.WaitReady());
    RawPipeClient client;
    ASSERT_TRUE(client.Connect(kManagerPipe, 5s));
    ASSERT_TRUE(client.WriteMessage("ADDURL:one"));
    const DWORD pid = manager.Id();
    ASSERT_TRUE(journal_.WaitFor("disconnect", 5s, [pid](const JsonValue& e) { return e["pid"].AsInt() == pid; }))
        << journal_.Text();
    EXPECT_FALSE(client.WriteMessage("ADDURL:two")) << "the server has closed the connection";
  }
  {
    StandInManager manager(journal_, {{L"ZYP_QM_NO_READ", L"1"}});
    ASSERT_TRUE(manager.WaitReady());
    RawPipeClient client;
    ASSERT_TRUE(client.Connect(kManagerPipe, 5s));
    ASSERT_TRUE(client.WriteMessage("ADDURL:unread"));
    const DWORD pid = manager.Id();
    ASSERT_TRUE(journal_.WaitFor("connect", 5s, [pid](const JsonValue& e) { return e["pid"].AsInt() == pid; }));
    // The manager is closed and waited for as the block ends: whatever it
    // read is in the journal by then.
  }
  const auto messages = journal_.Events("message");
  std::vector<std::u16string> addresses;
  for (const JsonValue& message : messages) addresses.push_back(message["address"].AsText());
  EXPECT_EQ(addresses, (std::vector<std::u16string>{u"slow", u"one"})) << journal_.Text();
}

TEST_F(StandInManagerTest, EndsByItselfWhenIdle) {
  StandInManager manager(journal_, {{L"ZYP_QM_IDLE_MS", L"300"}});
  ASSERT_TRUE(manager.WaitReady());
  const auto exit = journal_.WaitFor("exit", 5s);
  ASSERT_TRUE(exit.has_value());
  EXPECT_EQ((*exit)["reason"].AsText(), u"idle");
}

}  // namespace
}  // namespace zyp::e2e
