// The pipe client against an in-test server: bytes on the wire, messages
// received, connection states, waits and the throttle.
#include "pipes/pipe_client.h"

#include <string>
#include <thread>
#include <vector>

#include "pipes/fast_mem_stream.h"
#include "pipes/framing.h"
#include "tests/pipes/pipe_client_test_support.h"
#include "tests/support/control_packets.h"

namespace zyp::pipes::testing {
namespace {

using zyp::testing::ControlBytes;

Bytes Slice(const Bytes& bytes, std::size_t offset, std::size_t size) {
  return Bytes(bytes.begin() + offset, bytes.begin() + offset + size);
}

class ConnectedTest : public PipeClientTest {
 protected:
  void Open(ServerOptions options = {}) {
    server_ = std::make_unique<TestPipeServer>(options);
    client_.SetPipeName(server_->Name());
    recorder_.Attach(client_);
    ASSERT_TRUE(client_.Connect(3000, true));
    ASSERT_TRUE(client_.Connected());
    ASSERT_TRUE(server_->WaitForConnections(1, 5000));
  }
  void Write(const Bytes& bytes) { ASSERT_TRUE(client_.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()))); }

  // Declared so that the client goes first: its last events reach the
  // recorder, and its last bytes the server.
  std::unique_ptr<TestPipeServer> server_;
  EventRecorder recorder_;
  PipeClient client_;
};

TEST_F(ConnectedTest, WritesArriveFramedAsTheyWereQueued) {
  Open();
  const Bytes zero;
  const Bytes shapedLikeStart = ControlBytes(kStartMarker);
  const Bytes full = Pattern(65534, 1), over = Pattern(65535, 2), large = Pattern(100000, 3),
              twice = Pattern(131068, 4);
  for (const Bytes* write : {&zero, &shapedLikeStart, &full, &over, &large, &twice}) Write(*write);

  const Bytes start = ControlBytes(kStartMarker), end = ControlBytes(kEndMarker);
  const std::vector<Bytes> expected{zero,
                                    shapedLikeStart,
                                    full,
                                    start,
                                    Slice(over, 0, 65534),
                                    Slice(over, 65534, 1),
                                    end,
                                    start,
                                    Slice(large, 0, 65534),
                                    Slice(large, 65534, 34466),
                                    end,
                                    start,
                                    Slice(twice, 0, 65534),
                                    Slice(twice, 65534, 65534),
                                    end};
  ASSERT_TRUE(PumpUntil([&] { return server_->MessageCount() == expected.size(); }));
  EXPECT_EQ(server_->Messages(), expected);
  // Each entry is reported once the server has read it, with its size.
  ASSERT_TRUE(PumpUntil([&] { return recorder_.sent.size() == expected.size(); }));
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(recorder_.sent[i], expected[i].size()) << i;
  EXPECT_TRUE(recorder_.errors.empty());
}

TEST_F(ConnectedTest, PrefixedWritesAndStreamsArriveWhole) {
  Open();
  const Bytes prefix{'A', 'D', 'D', 'U', 'R', 'L', ':'};
  const Bytes address = Pattern(40, 9);
  ASSERT_TRUE(client_.Write(prefix.data(), 7, address.data(), 40));
  Bytes joined = prefix;
  joined.insert(joined.end(), address.begin(), address.end());

  const Bytes content = Pattern(200000, 5);
  FastMemStream stream;
  stream.Write(content.data(), content.size());
  ASSERT_TRUE(client_.SendStream(&stream));
  EXPECT_EQ(client_.QueuedSize(), 0u);  // it waits until the worker has taken everything

  const std::vector<Bytes> expected{joined,
                                    ControlBytes(kStartMarker),
                                    Slice(content, 0, 65534),
                                    Slice(content, 65534, 65534),
                                    Slice(content, 131068, 65534),
                                    Slice(content, 196602, 3398),
                                    ControlBytes(kEndMarker)};
  ASSERT_TRUE(PumpUntil([&] { return server_->MessageCount() == expected.size(); }));
  EXPECT_EQ(server_->Messages(), expected);

  EXPECT_FALSE(client_.SendStream(nullptr));
  client_.Disconnect();
  EXPECT_FALSE(client_.SendStream(&stream));
}

TEST_F(ConnectedTest, ServerMessagesArriveWholeWithTheReceiveBufferGrowingOnce) {
  Open();
  std::vector<std::size_t> capacities;
  recorder_.onMessage = [&](PipeClient&, Stream& stream) {
    const auto* memory = dynamic_cast<FastMemStream*>(&stream);
    capacities.push_back(memory != nullptr ? memory->Capacity() : 0);
  };
  const std::vector<Bytes> sent{Pattern(65534, 1), Pattern(65535, 2), Pattern(200000, 3), Pattern(10, 4)};
  for (const Bytes& message : sent) server_->Send(0, message);
  ASSERT_TRUE(PumpUntil([&] { return recorder_.messages.size() == sent.size(); }));
  EXPECT_EQ(recorder_.messages, sent);
  // 65535 bytes fit in the room reserved for 65534; 200000 grow it once.
  EXPECT_EQ(capacities, (std::vector<std::size_t>{131069, 131069, 250000, 65545}));
}

TEST_F(ConnectedTest, MultiPacketMessagesFollowTheReceivingRule) {
  Open();
  const Bytes start = ControlBytes(kStartMarker), end = ControlBytes(kEndMarker);
  Bytes otherMarker = start;
  otherMarker[8] = 'X';
  const Bytes a = Pattern(70000, 1), b = Pattern(5, 2), dropped = Pattern(7, 3), alone = Pattern(3, 4);
  const Bytes empty;
  const std::vector<Bytes> sequence{start,
                                    a,
                                    empty,
                                    b,
                                    end,  // one message: a then b, the empty one adds nothing
                                    end,  // stray end: nothing
                                    start,
                                    dropped,
                                    start,
                                    alone,
                                    end,  // the second start drops the first
                                    start,
                                    dropped,
                                    otherMarker,  // another marker drops the open one
                                    empty,        // an empty message alone
                                    {'d', 'o', 'n', 'e'}};
  for (const Bytes& message : sequence) server_->Send(0, message);

  Bytes ab = a;
  ab.insert(ab.end(), b.begin(), b.end());
  const std::vector<Bytes> expected{ab, alone, empty, {'d', 'o', 'n', 'e'}};
  ASSERT_TRUE(PumpUntil([&] { return recorder_.messages.size() == expected.size(); }));
  EXPECT_EQ(recorder_.messages, expected);
}

// Multi-packet messages are collected in a temporary file of their own.
// The process's temporary folder is a scratch folder for the test, and the
// one before it again afterwards: the next test in the process makes its own.
class TemporaryFolderTest : public ConnectedTest {
 protected:
  std::size_t TemporaryFiles() { return CountFiles(temp_.Path(), L"PMM*.tmp"); }

  zyp::testing::OwnTempFolder temp_;
};

TEST_F(TemporaryFolderTest, AMultiPacketMessageLivesInATemporaryFileWhileOpen) {
  Open();
  std::size_t filesDuringDelivery = 0;
  recorder_.onMessage = [&](PipeClient&, Stream&) { filesDuringDelivery = TemporaryFiles(); };
  server_->Send(0, ControlBytes(kStartMarker));
  server_->Send(0, Pattern(1000, 1));
  ASSERT_TRUE(PumpUntil([&] { return TemporaryFiles() == 1; }));
  server_->Send(0, ControlBytes(kEndMarker));
  ASSERT_TRUE(PumpUntil([&] { return recorder_.messages.size() == 1; }));
  EXPECT_EQ(recorder_.messages[0], Pattern(1000, 1));
  EXPECT_EQ(filesDuringDelivery, 1u);
  EXPECT_TRUE(PumpUntil([&] { return TemporaryFiles() == 0; }));

  // A message still open when the worker ends is dropped with its file.
  server_->Send(0, ControlBytes(kStartMarker));
  server_->Send(0, Pattern(10, 2));
  ASSERT_TRUE(PumpUntil([&] { return TemporaryFiles() == 1; }));
  client_.Disconnect();
  EXPECT_EQ(TemporaryFiles(), 0u);
  EXPECT_EQ(recorder_.messages.size(), 1u);
}

TEST_F(TemporaryFolderTest, WithoutATemporaryFileTheMessageIsCollectedInMemory) {
  const std::wstring missing = temp_.Path() + L"missing\\";
  ::SetEnvironmentVariableW(L"TMP", missing.c_str());
  ::SetEnvironmentVariableW(L"TEMP", missing.c_str());
  Open();
  bool inMemory = false;
  recorder_.onMessage = [&](PipeClient&, Stream& stream) {
    inMemory = dynamic_cast<FastMemStream*>(&stream) != nullptr;
  };
  const Bytes content = Pattern(150000, 6);
  server_->Send(0, ControlBytes(kStartMarker));
  server_->Send(0, Slice(content, 0, 65534));
  server_->Send(0, Slice(content, 65534, 150000 - 65534));
  server_->Send(0, ControlBytes(kEndMarker));
  ASSERT_TRUE(PumpUntil([&] { return recorder_.messages.size() == 1; }));
  EXPECT_EQ(recorder_.messages[0], content);
  EXPECT_TRUE(inMemory);
}

TEST_F(PipeClientTest, ConnectToAMissingPipeFailsAtOnce) {
  PipeClient client;
  client.SetPipeName(u"zyp_test_no_such_pipe_" + std::u16string(1, char16_t(u'a' + ::GetCurrentProcessId() % 26)));
  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(client.Connect(3000, true));
  EXPECT_LT(::GetTickCount() - start, 1000u);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.Pipe(), INVALID_HANDLE_VALUE);
}

TEST_F(PipeClientTest, ConnectToABusyPipeFailsAfterTheWaitTime) {
  const std::wstring name = L"zyp_test_busy_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring path = L"\\\\.\\pipe\\" + name;
  win32::UniqueHandle instance(
      ::CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 0, nullptr));
  ASSERT_TRUE(instance);
  std::thread accept([&] { ::ConnectNamedPipe(instance.Get(), nullptr); });
  win32::UniqueHandle first(
      ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  accept.join();
  ASSERT_TRUE(first);

  PipeClient client;
  client.SetPipeName(std::u16string(name.begin(), name.end()));
  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(client.Connect(600, true));
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_GE(elapsed, 500u);
  EXPECT_LT(elapsed, 2000u);
}

TEST_F(ConnectedTest, OpenWithoutWorkerThenStartOnTheSameHandle) {
  server_ = std::make_unique<TestPipeServer>();
  client_.SetPipeName(server_->Name());
  recorder_.Attach(client_);
  ASSERT_TRUE(client_.Connect(3000, false));
  EXPECT_FALSE(client_.Connected());
  const HANDLE opened = client_.Pipe();
  EXPECT_NE(opened, INVALID_HANDLE_VALUE);
  const Bytes early{'x'};
  EXPECT_FALSE(client_.Write(early.data(), 1));
  EXPECT_EQ(client_.QueuedSize(), 0u);
  // Open counts as connected for the properties.
  EXPECT_THROW(client_.SetServerName(u"elsewhere"), PipeException);

  ASSERT_TRUE(client_.Connect(0, true));
  EXPECT_TRUE(client_.Connected());
  EXPECT_EQ(client_.Pipe(), opened);
  EXPECT_TRUE(client_.Connect(0, false));  // already connected: nothing changes
  Write({'y'});
  ASSERT_TRUE(PumpUntil([&] { return server_->MessageCount() == 1; }));
  EXPECT_EQ(server_->Connections(), 1u);

  // Closing an open pipe that has no worker.
  PipeClient second;
  second.SetPipeName(server_->Name());
  ASSERT_TRUE(second.Connect(3000, false));
  ASSERT_TRUE(server_->WaitForConnections(2, 5000));
  second.Disconnect();
  EXPECT_EQ(second.Pipe(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(server_->WaitForClientsGone(1, 5000));
  second.Disconnect();  // closed: nothing happens
}

TEST_F(ConnectedTest, TheServerClosingItsEndEndsTheConnectionOnce) {
  Open({.read = false});
  const Bytes payload = Pattern(100, 1);
  Write(payload);
  // The worker has taken the first and waits for the server to read it.
  ASSERT_TRUE(PumpUntil([&] { return client_.QueuedSize() == 0; }));
  Write(payload);
  Write(payload);
  server_->Close(0);
  ASSERT_TRUE(PumpUntil([&] { return !client_.Connected(); }));
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(recorder_.disconnects, 1);
  EXPECT_TRUE(recorder_.errors.empty());  // a broken pipe is no error
  EXPECT_TRUE(recorder_.sent.empty());    // the server never read the write it had
  EXPECT_EQ(client_.QueuedSize(), 0u);
  EXPECT_EQ(client_.Pipe(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(client_.Write(payload.data(), 100));

  ASSERT_TRUE(client_.Connect(3000, true));
  server_->StartReading();
  Write(payload);
  ASSERT_TRUE(PumpUntil([&] { return recorder_.sent.size() == 1; }));
}

TEST_F(ConnectedTest, AnErrorOnThePipeIsReportedOnceThenTheConnectionEnds) {
  Open();
  server_->Disconnect(0);
  ASSERT_TRUE(PumpUntil([&] { return recorder_.disconnects == 1; }));
  ASSERT_EQ(recorder_.errors.size(), 1u);
  EXPECT_NE(recorder_.errors[0], ERROR_BROKEN_PIPE);
  EXPECT_NE(recorder_.errors[0], 0);
  EXPECT_FALSE(client_.Connected());
}

TEST_F(ConnectedTest, AFlushEndsWhenTheWorkerEndsWithWritesStillQueued) {
  Open();
  // The worker takes the next write only once this notice is handled: the
  // server is gone by then, and the last write stays queued.
  client_.on_pipe_sent = [&](PipeClient&, HANDLE, std::uint32_t) { server_->Close(0); };
  const Bytes payload = Pattern(10, 1);
  for (int i = 0; i < 3; ++i) Write(payload);
  // Wakes a flush that missed the worker's end, so that the fault shows as
  // time spent, not as a hang.
  win32::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const HWND window = client_.WindowHandle();
  std::thread watchdog([&] {
    if (::WaitForSingleObject(done.Get(), 10000) == WAIT_TIMEOUT)
      ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
  });
  const DWORD start = ::GetTickCount();
  client_.FlushPipeBuffers();
  const DWORD elapsed = ::GetTickCount() - start;
  ::SetEvent(done.Get());
  watchdog.join();
  EXPECT_LT(elapsed, 5000u) << "the flush missed the worker's end";
  EXPECT_FALSE(client_.Connected());
  EXPECT_EQ(recorder_.disconnects, 1);
  EXPECT_EQ(client_.QueuedSize(), 0u);
}

TEST_F(ConnectedTest, DestroyingAConnectedClientCallsNoEvent) {
  Open();
  auto client = std::make_unique<PipeClient>();
  client->SetPipeName(server_->Name());
  int events = 0;
  client->on_pipe_disconnect = [&](PipeClient&, HANDLE) { ++events; };
  client->on_pipe_error = [&](PipeClient&, HANDLE, std::int32_t) { ++events; };
  ASSERT_TRUE(client->Connect(3000, true));
  ASSERT_TRUE(server_->WaitForConnections(2, 5000));
  const HWND notify = client->WindowHandle();
  client.reset();
  EXPECT_EQ(events, 0);
  EXPECT_FALSE(::IsWindow(notify));
  EXPECT_TRUE(server_->WaitForClientsGone(1, 5000));
}

TEST_F(ConnectedTest, DisconnectInsideAMessageHandlerWaitsUntilItReturns) {
  Open();
  bool connectedAfterCall = false;
  bool handlerDone = false;
  recorder_.onMessage = [&](PipeClient& sender, Stream&) {
    sender.Disconnect();
    connectedAfterCall = sender.Connected();
    handlerDone = true;
  };
  server_->Send(0, {'b', 'y', 'e'});
  ASSERT_TRUE(PumpUntil([&] { return handlerDone; }));
  EXPECT_TRUE(connectedAfterCall);
  ASSERT_TRUE(PumpUntil([&] { return !client_.Connected(); }));
  EXPECT_EQ(recorder_.disconnects, 1);
  EXPECT_TRUE(server_->WaitForClientsGone(1, 5000));
}

TEST_F(ConnectedTest, WaitForReplyTakesInOnlyWhatItMayAndStopsInTime) {
  Open();
  server_->Send(0, {'r'});
  // The worker now waits in its notice.
  ASSERT_TRUE(zyp::testing::WaitUntil(zyp::testing::SentMessageWaiting, 10s));
  EXPECT_FALSE(client_.WaitForReply(0));
  EXPECT_TRUE(recorder_.messages.empty());
  EXPECT_TRUE(client_.WaitForReply(5000));
  EXPECT_EQ(recorder_.messages.size(), 1u);

  DWORD start = ::GetTickCount();
  EXPECT_FALSE(client_.WaitForReply(300));
  EXPECT_GE(::GetTickCount() - start, 290u);

  // Without limit it also ends when the connection does.
  std::thread closer([&] {
    ::Sleep(200);
    server_->Close(0);
  });
  start = ::GetTickCount();
  EXPECT_FALSE(client_.WaitForReply(INFINITE));
  closer.join();
  EXPECT_FALSE(client_.Connected());
}

TEST_F(ConnectedTest, TheThrottleHoldsAWriteUntilTheQueueIsTaken) {
  Open({.read = false});
  client_.SetMemoryThrottle(100000);
  const Bytes payload = Pattern(60000, 1);
  Write(payload);  // taken by the worker, which waits for the server to read
  ASSERT_TRUE(PumpUntil([&] { return client_.QueuedSize() == 0; }));
  Write(payload);
  Write(payload);  // 60028 queued: not above the throttle yet
  EXPECT_EQ(client_.QueuedSize(), 120056u);
  std::thread reader([&] {
    ::Sleep(400);
    server_->StartReading();
  });
  const DWORD start = ::GetTickCount();
  Write(payload);  // above the throttle: waits until the worker has taken everything
  const DWORD elapsed = ::GetTickCount() - start;
  reader.join();
  EXPECT_GE(elapsed, 300u);
  // Only the last write may still be queued; the worker may already have taken it too.
  EXPECT_LE(client_.QueuedSize(), 60028u);
  ASSERT_TRUE(PumpUntil([&] { return server_->MessageCount() == 4; }));
}

TEST_F(ConnectedTest, WithoutAThrottleWritesNeverWait) {
  Open({.read = false});
  client_.SetMemoryThrottle(0);
  const Bytes payload = Pattern(60000, 1);
  const DWORD start = ::GetTickCount();
  for (int i = 0; i < 40; ++i) Write(payload);
  EXPECT_LT(::GetTickCount() - start, 1000u);
  EXPECT_GT(client_.QueuedSize(), 2000000u);
}

TEST_F(PipeClientTest, PipeAndServerNamesAreChecked) {
  PipeClient client;
  EXPECT_EQ(client.PipeName(), u"PipeServer");
  EXPECT_EQ(client.MemoryThrottle(), 10240000u);
  const std::u16string longest(256, u'n');
  client.SetPipeName(longest);
  EXPECT_EQ(client.PipeName(), longest);
  for (const std::u16string& invalid : {std::u16string(257, u'n'), std::u16string(), std::u16string(u"a\\b")}) {
    try {
      client.SetPipeName(invalid);
      ADD_FAILURE() << "accepted an invalid name";
    } catch (const PipeException& error) {
      EXPECT_EQ(error.Message(), u"Invalid pipe name specified!");
    }
  }
  EXPECT_EQ(client.PipeName(), longest);
}

TEST_F(ConnectedTest, ThisMachinesNameInAnyCaseMeansTheLocalPipe) {
  server_ = std::make_unique<TestPipeServer>();
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(::GetComputerNameW(name, &size));
  std::u16string mixed(name, name + size);
  for (std::size_t i = 0; i < mixed.size(); i += 2)
    if (mixed[i] >= u'A' && mixed[i] <= u'Z') mixed[i] = char16_t(mixed[i] + 32);
  client_.SetServerName(mixed);
  client_.SetPipeName(server_->Name());
  ASSERT_TRUE(client_.Connect(3000, true));
  try {
    client_.SetPipeName(u"other");
    ADD_FAILURE() << "renamed while connected";
  } catch (const PipeException& error) {
    EXPECT_EQ(error.Message(), u"Cannot change property when client is connected!");
  }
  EXPECT_EQ(client_.PipeName(), server_->Name());
}

TEST_F(ConnectedTest, AWorkerStartedFromAnotherThreadIsRefused) {
  server_ = std::make_unique<TestPipeServer>();
  client_.SetPipeName(server_->Name());
  std::thread other([&] {
    client_.Connect(3000, true);
    // The refused worker's end runs on the thread that started it.
    PumpUntil([&] { return !client_.Connected(); });
  });
  other.join();
  try {
    PumpUntil([] { return false; }, 500);
    ADD_FAILURE() << "no error reached this thread's dispatch";
  } catch (const PipeException& error) {
    EXPECT_EQ(error.Message(), u"The notify window and the component window do not exist in the same thread!");
  }
  EXPECT_TRUE(server_->WaitForClientsGone(1, 5000));
  EXPECT_EQ(server_->MessageCount(), 0u);
}

TEST_F(ConnectedTest, EventHandlerErrorsLeaveThroughTheOwningThreadsDispatch) {
  Open();
  client_.on_pipe_sent = [](PipeClient&, HANDLE, std::uint32_t) { throw std::runtime_error("handler failed"); };
  Write({'z'});
  EXPECT_THROW(PumpUntil([] { return false; }, 3000), std::runtime_error);
  EXPECT_TRUE(client_.Connected());
}

}  // namespace
}  // namespace zyp::pipes::testing
