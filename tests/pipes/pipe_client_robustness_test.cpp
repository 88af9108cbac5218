// A server that stops reading cannot hold the client, a worker left to end by
// itself cannot pass dropped writes off as written, a busy pipe does not lose
// a request, and connecting over and over leaks nothing.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>

#include "pipes/framing.h"
#include "platform/scope_exit.h"
#include "tests/pipes/pipe_client_test_support.h"
#include "tests/support/control_packets.h"

namespace zyp::pipes::testing {
namespace {

DWORD HandleCount() {
  DWORD count = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &count);
  return count;
}

std::vector<DWORD> ThreadIds() {
  win32::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  std::vector<DWORD> ids;
  for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry))
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ids.push_back(entry.th32ThreadID);
  return ids;
}

std::size_t ThreadCount() { return ThreadIds().size(); }

// The one thread below normal priority among those not in before: the client
// runs its worker there, the test server its threads at normal priority.
// Empty when there is none, or more than one.
win32::UniqueHandle OpenWorker(const std::vector<DWORD>& before) {
  win32::UniqueHandle worker;
  for (const DWORD id : ThreadIds()) {
    if (std::find(before.begin(), before.end(), id) != before.end()) continue;
    win32::UniqueHandle thread(
        ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, id));
    if (!thread || ::GetThreadPriority(thread.Get()) != THREAD_PRIORITY_BELOW_NORMAL) continue;
    if (worker) return {};
    worker = std::move(thread);
  }
  return worker;
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

// A worker that has not ended at the stop's bound is left to end by itself,
// and what its queue still held is dropped: that must never count as
// written, not even once the client has connected again. The worker is held
// inside its first sent notice, where it waits in SendMessageW for this
// thread and holds nothing that this thread needs; suspended there, it stands
// for a worker that cannot be stopped.
TEST_F(PipeClientTest, WritesDroppedWithAWorkerLeftToEndAloneNeverCountAsWritten) {
  struct Case {
    const char* name;
    Bytes first;  // its sent notice holds the worker
    Bytes later;  // queued while the worker is held; empty for none
    std::vector<Bytes> read;
    bool allWritten;
  };
  const Bytes small = Pattern(10, 1);
  const Case cases[] = {
      {"a write queued after the one written", small, Pattern(10, 2), {small}, false},
      {"the rest of a message of several packets",
       Pattern(kMaxPipeWrite + 1, 3),
       {},
       {zyp::testing::ControlBytes(kStartMarker)},
       false},
      {"nothing queued after the one written", small, {}, {small}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPipeServer server;
    PipeClient client;
    client.SetPipeName(server.Name());
    const std::vector<DWORD> before = ThreadIds();
    win32::UniqueHandle worker;
    bool suspended = false;
    bool stopped = false;
    DWORD holdError = ERROR_SUCCESS;
    int sent = 0;
    client.on_pipe_sent = [&](PipeClient&, HANDLE, std::uint32_t) {
      if (sent++ > 0) return;
      worker = OpenWorker(before);
      if (!worker) return;
      suspended = ::SuspendThread(worker.Get()) != static_cast<DWORD>(-1);
      // A suspension takes effect later; reading the context waits for it,
      // while the worker still waits for this notice's reply.
      CONTEXT context{};
      context.ContextFlags = CONTEXT_CONTROL;
      stopped = suspended && ::GetThreadContext(worker.Get(), &context);
      if (!stopped) holdError = ::GetLastError();
    };
    const auto resume = [&] {
      if (std::exchange(suspended, false)) ::ResumeThread(worker.Get());
    };
    const ScopeExit resumeOnFailure(resume);
    ASSERT_TRUE(client.Connect(5000, true));
    ASSERT_TRUE(client.Write(c.first.data(), static_cast<std::int32_t>(c.first.size())));
    ASSERT_TRUE(PumpUntil([&] { return sent > 0; }));
    ASSERT_TRUE(worker) << "no single new thread at the worker's priority";
    ASSERT_TRUE(stopped) << "the worker could not be held, error " << holdError;
    if (!c.later.empty()) {
      ASSERT_TRUE(client.Write(c.later.data(), static_cast<std::int32_t>(c.later.size())));
    }

    client.Disconnect();
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.AllWritten(), c.allWritten);

    // Its kill event is set: once resumed, it ends without writing more.
    resume();
    ASSERT_EQ(::WaitForSingleObject(worker.Get(), 10000), WAIT_OBJECT_0) << "the worker left alone did not end";
    ASSERT_TRUE(server.WaitForClientsGone(1, 5000));
    EXPECT_EQ(server.Messages(), c.read);

    // A new connection writes afresh; what the old one dropped still counts.
    ASSERT_TRUE(client.Connect(5000, true));
    ASSERT_TRUE(client.Write(small.data(), static_cast<std::int32_t>(small.size())));
    ASSERT_TRUE(PumpUntil([&] { return sent == 2; }));
    EXPECT_EQ(client.AllWritten(), c.allWritten) << "after connecting again";
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
