// A server that stops reading cannot hold the client, a busy pipe does not
// lose a request, and connecting over and over leaks nothing.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/pipes/pipe_client_test_support.h"

namespace zyp::pipes::testing {
namespace {

DWORD HandleCount() {
  DWORD count = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &count);
  return count;
}

std::size_t ThreadCount() {
  win32::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  std::size_t count = 0;
  for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry))
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
  return count;
}

SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
  // The commit charge: the same figure as PrivateUsage on Windows, and the
  // one of the two that Wine fills in.
  return counters.PagefileUsage;
}

TEST_F(PipeClientTest, AServerThatStopsReadingCannotHoldTheClient) {
  TestPipeServer server({.read = false});
  const Bytes request = Pattern(10, 1);
  std::size_t baseThreads = 0;
  DWORD baseHandles = 0;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    auto client = std::make_unique<PipeClient>();
    client->SetPipeName(server.Name());
    EventRecorder recorder;
    recorder.Attach(*client);
    ASSERT_TRUE(client->Connect(5000, true));
    ASSERT_TRUE(client->Write(request.data(), 10));
    // The worker has written and waits for the server to read.
    ASSERT_TRUE(PumpUntil([&] { return client->QueuedSize() == 0; }));
    const DWORD start = ::GetTickCount();
    if (round % 2 == 0) {
      client->Disconnect();
      EXPECT_EQ(recorder.disconnects, 1);
      EXPECT_FALSE(client->Connected());
    }
    client.reset();  // with a connection still up on odd rounds
    EXPECT_LT(::GetTickCount() - start, 2000u);
    EXPECT_TRUE(recorder.sent.empty());
    // A server that does not read cannot tell that the client has gone.
    server.Close(round);
    if (round == 0) {
      // The first round has started the thread pool and the server's next
      // instance; later rounds must come back to the same figures.
      PumpUntil([] { return false; }, 200);
      baseThreads = ThreadCount();
      baseHandles = HandleCount();
    } else {
      EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= baseThreads && HandleCount() <= baseHandles; }, 3000))
          << ThreadCount() << " threads, " << HandleCount() << " handles";
    }
  }
}

TEST_F(PipeClientTest, EveryWriteIsReadByTheServerBeforeItIsReportedSent) {
  TestPipeServer server({.readDelayMs = 150});
  PipeClient client;
  client.SetPipeName(server.Name());
  std::vector<std::size_t> readWhenSent;
  client.on_pipe_sent = [&](PipeClient&, HANDLE, std::uint32_t) {
    // The server records a message right after its read completes.
    const DWORD start = ::GetTickCount();
    while (server.MessageCount() <= readWhenSent.size() && ::GetTickCount() - start < 50) ::Sleep(1);
    readWhenSent.push_back(server.MessageCount());
  };
  ASSERT_TRUE(client.Connect(3000, true));
  const Bytes request = Pattern(10, 2);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(client.Write(request.data(), 10));
  ASSERT_TRUE(PumpUntil([&] { return readWhenSent.size() == 4; }));
  EXPECT_EQ(readWhenSent, (std::vector<std::size_t>{1, 2, 3, 4}));
}

// Many clients at once against a server that offers one free instance at a
// time: a client that loses the race for it tries again.
TEST_F(PipeClientTest, ClientsArrivingTogetherAllGetThrough) {
  TestPipeServer server;
  constexpr int kClients = 30;
  std::atomic<int> ready{0};
  std::atomic<int> connected{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      PipeClient client;
      client.SetPipeName(server.Name());
      bool sent = false;
      client.on_pipe_sent = [&](PipeClient&, HANDLE, std::uint32_t) { sent = true; };
      ++ready;
      while (ready.load() < kClients) ::Sleep(0);
      if (!client.Connect(20000, true)) return;
      ++connected;
      const std::string request = "ADDURL:http://example.com/" + std::to_string(i);
      client.Write(request.data(), static_cast<std::int32_t>(request.size()));
      PumpUntil([&] { return sent || !client.Connected(); }, 20000);
    });
  }
  for (auto& thread : clients) thread.join();
  EXPECT_EQ(connected.load(), kClients);
  ASSERT_TRUE(server.WaitForMessages(kClients, 5000));
  std::vector<std::string> received;
  for (const Bytes& message : server.Messages()) received.emplace_back(message.begin(), message.end());
  std::sort(received.begin(), received.end());
  std::vector<std::string> expected;
  for (int i = 0; i < kClients; ++i) expected.push_back("ADDURL:http://example.com/" + std::to_string(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(received, expected);
}

TEST_F(PipeClientTest, ConnectingAThousandTimesLeaksNothing) {
  TestPipeServer server;
  PipeClient client;
  client.SetPipeName(server.Name());
  int sent = 0;
  client.on_pipe_sent = [&](PipeClient&, HANDLE, std::uint32_t) { ++sent; };
  const Bytes request = Pattern(64, 3);
  auto round = [&](int index) {
    ASSERT_TRUE(client.Connect(5000, true));
    ASSERT_TRUE(client.Write(request.data(), 64));
    ASSERT_TRUE(PumpUntil([&] { return sent == index + 1; }));
    client.Disconnect();
    ASSERT_TRUE(server.WaitForClientsGone(index + 1, 5000));
  };
  constexpr int kWarmUp = 20;
  constexpr int kRounds = 1000;
  for (int i = 0; i < kWarmUp; ++i) round(i);
  const DWORD handles = HandleCount();
  const SIZE_T memory = PrivateBytes();
  ASSERT_GT(memory, 0u);
  for (int i = kWarmUp; i < kRounds; ++i) {
    round(i);
    if (HasFatalFailure()) return;
  }
  PumpUntil([] { return false; }, 200);
  // A few handles of slack for the system's thread pool, which may keep a
  // thread more or less.
  EXPECT_LE(HandleCount(), handles + 4);
  EXPECT_LT(PrivateBytes(), memory + 1024 * 1024) << memory << " -> " << PrivateBytes();
  EXPECT_EQ(server.MessageCount(), std::size_t{kRounds});
}

}  // namespace
}  // namespace zyp::pipes::testing
