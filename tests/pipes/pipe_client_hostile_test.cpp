// The pipe client against servers that turn on it: one that is not of our
// user or session, one that sends more than anybody collects, and handlers
// that reconnect or destroy the client at the worst moment.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>
#include <thread>

#include "pipes/framing.h"
#include "pipes/pipe_thread.h"
#include "platform/win32/message_window.h"
#include "platform/win32/pipe_server_identity.h"
#include "tests/pipes/pipe_client_test_support.h"
#include "tests/support/control_packets.h"

namespace zyp::pipes::testing {
namespace {

// The system's identities, with the server's changed as a case asks: Wine
// has one user and no sessions.
class ChangedServer final : public win32::ProcessIdentities {
 public:
  explicit ChangedServer(std::function<std::optional<win32::ProcessIdentity>(win32::ProcessIdentity)> change)
      : change_(std::move(change)) {}
  // A change to nothing stands for a process that cannot be asked.
  win32::ProcessIdentity Of(DWORD processId) override {
    const auto changed = change_(system_.Of(processId));
    if (!changed) throw PlatformError(ERROR_ACCESS_DENIED, u"Access is denied.", "OpenProcess");
    return *changed;
  }
  win32::ProcessIdentity Self() override { return system_.Self(); }

 private:
  win32::SystemProcessIdentities system_;
  std::function<std::optional<win32::ProcessIdentity>(win32::ProcessIdentity)> change_;
};

struct ImpostorCase {
  const char* name;
  std::function<std::optional<win32::ProcessIdentity>(win32::ProcessIdentity)> change;
  bool served;
};

TEST_F(PipeClientTest, OnlyAServerOfOurUserInOurSessionGetsAnything) {
  const ImpostorCase cases[] = {
      {"same user, same session", [](win32::ProcessIdentity id) { return id; }, true},
      {"another user",
       [](win32::ProcessIdentity id) {
         id.user.back() ^= 1;
         return id;
       },
       false},
      {"another session",
       [](win32::ProcessIdentity id) {
         ++id.session;
         return id;
       },
       false},
      {"cannot be asked", [](win32::ProcessIdentity) { return std::optional<win32::ProcessIdentity>(); }, false},
  };
  const Bytes request = Pattern(20, 5);
  for (const ImpostorCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestPipeServer server;
    ChangedServer identities(c.change);
    PipeClient client;
    client.SetPipeName(server.Name());
    client.server_check = [&](HANDLE pipe) { return win32::ServedBySameUserAndSession(pipe, identities); };
    bool sent = false;
    client.on_pipe_sent = [&](PipeClient&, HANDLE, std::uint32_t) { sent = true; };
    EXPECT_EQ(client.Connect(3000, true), c.served);
    EXPECT_EQ(client.Connected(), c.served);
    EXPECT_EQ(client.Write(request.data(), 20), c.served);
    if (c.served) {
      ASSERT_TRUE(PumpUntil([&] { return sent; }));
      // The client's write has completed; the server's reader may take a
      // moment more to record it.
      ASSERT_TRUE(server.WaitForMessages(1, 5000)) << "the server read nothing";
      EXPECT_EQ(server.Messages(), std::vector<Bytes>{request});
    } else {
      // The connection is closed at once, with nothing written.
      EXPECT_TRUE(server.WaitForClientsGone(1, 5000));
      EXPECT_EQ(client.Pipe(), INVALID_HANDLE_VALUE);
      EXPECT_EQ(server.MessageCount(), 0u);
    }
  }
}

TEST_F(PipeClientTest, ThePipeIsNotInheritable) {
  TestPipeServer server;
  PipeClient client;
  client.SetPipeName(server.Name());
  ASSERT_TRUE(client.Connect(3000, false));
  DWORD flags = 0;
  ASSERT_TRUE(::GetHandleInformation(client.Pipe(), &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
}

TEST_F(PipeClientTest, WhatNobodyListensForIsDroppedUnreadAndWhatIsTooLongIsDroppedForAListener) {
  const Bytes start = zyp::testing::ControlBytes(kStartMarker);
  const Bytes end = zyp::testing::ControlBytes(kEndMarker);
  const Bytes piece = Pattern(kMaxPipeWrite, 7);
  const std::size_t pieces = kMaxMessageSize / piece.size() + 1;  // one piece too many
  const Bytes small = Pattern(10, 8);
  // The client's temporary files go to a folder of this test alone.
  const zyp::testing::OwnTempFolder temp;

  for (const bool listening : {false, true}) {
    SCOPED_TRACE(listening ? "listening" : "nobody listening");
    TestPipeServer server;
    PipeClient client;
    client.SetPipeName(server.Name());
    std::vector<Bytes> received;
    if (listening)
      client.on_pipe_message = [&](PipeClient&, HANDLE, Stream& stream) { received.push_back(ReadAll(stream)); };
    ASSERT_TRUE(client.Connect(3000, true));
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    // Too long in one piece, too long in many, then one that is not.
    server.Send(0, Pattern(static_cast<std::size_t>(kMaxMessageSize) + 1, 9));
    server.Send(0, start);
    std::atomic<bool> done{false};
    std::atomic<bool> fileSeen{false};
    std::thread watcher([&] {
      while (!done.load()) {
        if (CountFiles(temp.Path(), L"PMM*.tmp") > 0) fileSeen = true;
        ::Sleep(5);
      }
    });
    for (std::size_t i = 0; i < pieces; ++i) server.Send(0, piece);
    server.Send(0, end);
    server.Send(0, small);
    if (listening) {
      EXPECT_TRUE(PumpUntil([&] { return !received.empty(); }, 60000));
      EXPECT_EQ(received, std::vector<Bytes>{small});
    } else {
      // Only the last message is short enough to count as a reply.
      EXPECT_TRUE(client.WaitForReply(60000));
      EXPECT_FALSE(fileSeen.load()) << "a message nobody listens for was collected in a temporary file";
    }
    done = true;
    watcher.join();
    EXPECT_EQ(CountFiles(temp.Path(), L"PMM*.tmp"), 0u);
  }
}

// A client in storage of the test's own, filled with a pattern once the
// client is gone: a worker that still reaches it leaves a trace (or fails
// loudly).
class ClientInStorage {
 public:
  ClientInStorage() { client_ = new (storage_) PipeClient(); }
  ~ClientInStorage() { Destroy(); }
  PipeClient& operator*() { return *client_; }
  PipeClient* operator->() { return client_; }
  void Destroy() {
    if (client_ == nullptr) return;
    std::exchange(client_, nullptr)->~PipeClient();
    std::memset(storage_, 0xCC, sizeof(storage_));
  }
  bool Untouched() const {
    for (const unsigned char byte : storage_)
      if (byte != 0xCC) return false;
    return true;
  }

 private:
  alignas(PipeClient) unsigned char storage_[sizeof(PipeClient)];
  PipeClient* client_ = nullptr;
};

TEST_F(PipeClientTest, AClientDestroyedInsideItsWorkersNoticeLetsTheWorkerEndAlone) {
  TestPipeServer server;
  ClientInStorage client;
  client->SetPipeName(server.Name());
  client->on_pipe_message = [&](PipeClient&, HANDLE, Stream&) { client.Destroy(); };
  ASSERT_TRUE(client->Connect(3000, true));
  ASSERT_TRUE(server.WaitForConnections(1, 5000));
  server.Send(0, Pattern(10, 1));
  // The worker waits in its notice while the client goes; then it must end
  // without reaching the client.
  EXPECT_TRUE(PumpUntil([&] { return server.ClientsGone() == 1; }));
  PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(client.Untouched()) << "the worker's end reached the client after it was gone";
}

TEST_F(PipeClientTest, AClientWhoseStopWaitRaisesLetsTheWorkerEndAlone) {
  TestPipeServer server;
  ClientInStorage client;
  client->SetPipeName(server.Name());
  client->on_pipe_message = [](PipeClient&, HANDLE, Stream&) { throw std::runtime_error("handler failed"); };
  ASSERT_TRUE(client->Connect(3000, true));
  ASSERT_TRUE(server.WaitForConnections(1, 5000));
  server.Send(0, Pattern(10, 1));
  // The worker now waits in its notice, which this thread has not taken in.
  ASSERT_TRUE(zyp::testing::WaitUntil(zyp::testing::SentMessageWaiting, 10s));
  client.Destroy();
  EXPECT_TRUE(win32::TakeDispatchError() != nullptr) << "the handler's error was lost";
  EXPECT_TRUE(PumpUntil([&] { return server.ClientsGone() == 1; }));
  PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(client.Untouched()) << "the worker's end reached the client after it was gone";
}

TEST_F(PipeClientTest, AClientThatReconnectsInItsDisconnectHandlerGetsAFreshConnection) {
  TestPipeServer server;
  PipeClient client;
  client.SetPipeName(server.Name());
  int disconnects = 0;
  std::vector<std::int32_t> errors;
  client.on_pipe_error = [&](PipeClient&, HANDLE, std::int32_t code) { errors.push_back(code); };
  client.on_pipe_disconnect = [&](PipeClient& sender, HANDLE) {
    if (++disconnects == 1) {
      EXPECT_TRUE(sender.Connect(3000, true)) << "error " << ::GetLastError();
    }
  };
  ASSERT_TRUE(client.Connect(3000, true));
  ASSERT_TRUE(server.WaitForConnections(1, 5000));
  // The server's next instance listens before the first connection ends: a
  // pipe without any instance fails a connect at once.
  const std::wstring path = L"\\\\.\\pipe\\" + std::wstring(server.Name().begin(), server.Name().end());
  ASSERT_TRUE(::WaitNamedPipeW(path.c_str(), 5000));
  server.Close(0);
  ASSERT_TRUE(PumpUntil([&] { return disconnects == 1; }));
  ASSERT_TRUE(server.WaitForConnections(2, 5000));
  const Bytes request = Pattern(12, 3);
  ASSERT_TRUE(client.Write(request.data(), 12));
  EXPECT_TRUE(server.WaitForMessages(1, 5000));
  PumpUntil([] { return false; }, 200);
  EXPECT_TRUE(errors.empty()) << "error " << errors.front();
  EXPECT_TRUE(client.Connected());
}

}  // namespace
}  // namespace zyp::pipes::testing
