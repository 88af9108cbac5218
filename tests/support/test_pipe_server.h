#pragma once
// An in-test named-pipe server in message mode, with a name of its own per
// instance so that tests can run side by side, or the queue manager's. It
// records every message it reads, as it came, and can answer, stop reading,
// or close its end.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/scoped_handle.h"
#include "tests/support/pattern_bytes.h"

namespace zyp::testing {

struct ServerOptions {
  // The pipe's name; empty: one of its own.
  std::u16string name = {};
  // False: connections are accepted but not read until StartReading.
  bool read = true;
  // Pause before each read, to stand for a slow server.
  DWORD readDelayMs = 0;
};

// One instance listens at a time: the next one is made once a client has
// taken it, as a typical server does. Each connection is served by a thread
// of its own, which is reaped when the next client arrives.
class TestPipeServer {
 public:
  explicit TestPipeServer(ServerOptions options = {});
  ~TestPipeServer();
  TestPipeServer(const TestPipeServer&) = delete;
  TestPipeServer& operator=(const TestPipeServer&) = delete;

  const std::u16string& Name() const { return name_; }

  // Every message read so far, from all connections, in the order read.
  std::vector<Bytes> Messages();
  std::size_t MessageCount();
  bool WaitForMessages(std::size_t count, DWORD timeoutMs);
  std::size_t Connections();
  bool WaitForConnections(std::size_t count, DWORD timeoutMs);
  // Whether the client of a connection still holds its end, at this moment.
  bool ClientConnected(std::size_t connection);
  // How many clients have closed their end.
  std::size_t ClientsGone();
  bool WaitForClientsGone(std::size_t count, DWORD timeoutMs);

  void StartReading();
  // Queues one message for a connection; a thread of the server writes the
  // queued messages in order, so the test's thread stays free to take them
  // in.
  void Send(std::size_t connection, const Bytes& message);
  // Closes the server's end (the client sees a broken pipe) and frees what
  // the connection held.
  void Close(std::size_t connection);
  // Disconnects the client from the server's side.
  void Disconnect(std::size_t connection);

 private:
  struct Connection {
    win32::UniqueHandle pipe;
    win32::UniqueHandle stop;
    std::thread reader;
    std::atomic<bool> finished{false};
    // Held while the connection is stopped or released.
    std::mutex release;
  };

  void AcceptLoop();
  void SendLoop();
  void Serve(Connection& connection);
  void Stop(Connection& connection);
  void Release(Connection& connection);
  template <typename Predicate>
  bool WaitFor(DWORD timeoutMs, Predicate predicate);

  ServerOptions options_;
  std::u16string name_;
  std::wstring path_;
  win32::UniqueHandle stop_;
  win32::UniqueHandle reading_;
  win32::UniqueHandle ready_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Bytes> messages_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::size_t clients_gone_ = 0;
  std::deque<std::pair<std::size_t, Bytes>> outgoing_;
  bool stopping_ = false;
  std::thread acceptor_;
  std::thread sender_;
};

}  // namespace zyp::testing
