#include "tests/support/test_pipe_server.h"

#include <atomic>
#include <chrono>

namespace zyp::testing {

namespace {

std::atomic<int> g_serial{0};

win32::UniqueHandle NewEvent(bool manual = true) {
  return win32::UniqueHandle(::CreateEventW(nullptr, manual, FALSE, nullptr));
}

}  // namespace

TestPipeServer::TestPipeServer(ServerOptions options)
    : options_(options), stop_(NewEvent()), reading_(NewEvent()), ready_(NewEvent()) {
  const std::wstring name = options_.name.empty()
                                ? L"zyp_test_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                                      std::to_wstring(++g_serial) + L"_" + std::to_wstring(::GetTickCount())
                                : std::wstring(options_.name.begin(), options_.name.end());
  name_.assign(name.begin(), name.end());
  path_ = L"\\\\.\\pipe\\" + name;
  if (options_.read) ::SetEvent(reading_.Get());
  acceptor_ = std::thread([this] { AcceptLoop(); });
  sender_ = std::thread([this] { SendLoop(); });
  // The first instance exists before the constructor returns.
  ::WaitForSingleObject(ready_.Get(), 5000);
}

TestPipeServer::~TestPipeServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  ::SetEvent(stop_.Get());
  sender_.join();
  acceptor_.join();
  for (auto& connection : connections_) Release(*connection);
}

void TestPipeServer::AcceptLoop() {
  while (::WaitForSingleObject(stop_.Get(), 0) != WAIT_OBJECT_0) {
    win32::UniqueHandle pipe(::CreateNamedPipeW(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                                PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, nullptr));
    if (!pipe) return;
    ::SetEvent(ready_.Get());
    win32::UniqueHandle connected = NewEvent();
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected.Get();
    if (!::ConnectNamedPipe(pipe.Get(), &overlapped)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_PENDING) {
        HANDLE events[] = {connected.Get(), stop_.Get()};
        if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
          ::CancelIo(pipe.Get());
          DWORD ignored = 0;
          ::GetOverlappedResult(pipe.Get(), &overlapped, &ignored, TRUE);
          return;
        }
      } else if (error == ERROR_NO_DATA) {
        // The client came and went before the connection was taken up: it
        // has gone all the same.
        {
          std::lock_guard lock(mutex_);
          ++clients_gone_;
        }
        changed_.notify_all();
        continue;
      } else if (error != ERROR_PIPE_CONNECTED) {
        continue;
      }
    }
    auto connection = std::make_unique<Connection>();
    connection->pipe = std::move(pipe);
    connection->stop = NewEvent();
    Connection& added = *connection;
    std::vector<Connection*> finished;
    {
      std::lock_guard lock(mutex_);
      for (auto& earlier : connections_)
        if (earlier->finished.load()) finished.push_back(earlier.get());
      connections_.push_back(std::move(connection));
    }
    // Connections whose client has gone give back their thread and handles.
    for (Connection* earlier : finished) Release(*earlier);
    changed_.notify_all();
    added.reader = std::thread([this, &added] {
      Serve(added);
      added.finished = true;
    });
  }
}

void TestPipeServer::Serve(Connection& connection) {
  // Until reading starts, only watch whether the client goes away.
  HANDLE waitReading[] = {reading_.Get(), connection.stop.Get(), stop_.Get()};
  for (;;) {
    const DWORD result = ::WaitForMultipleObjects(3, waitReading, FALSE, 20);
    if (result == WAIT_OBJECT_0) break;
    if (result != WAIT_TIMEOUT) return;
    if (!::PeekNamedPipe(connection.pipe.Get(), nullptr, 0, nullptr, nullptr, nullptr) &&
        ::GetLastError() == ERROR_BROKEN_PIPE) {
      {
        std::lock_guard lock(mutex_);
        ++clients_gone_;
      }
      changed_.notify_all();
      return;
    }
  }
  win32::UniqueHandle done = NewEvent();
  Bytes message;
  std::vector<std::uint8_t> buffer(1 << 20);
  for (;;) {
    if (options_.readDelayMs != 0 && message.empty()) ::Sleep(options_.readDelayMs);
    OVERLAPPED overlapped{};
    overlapped.hEvent = done.Get();
    DWORD read = 0;
    BOOL ok = ::ReadFile(connection.pipe.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, &overlapped);
    DWORD error = ok ? 0 : ::GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
      HANDLE events[] = {done.Get(), connection.stop.Get(), stop_.Get()};
      if (::WaitForMultipleObjects(3, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ::CancelIo(connection.pipe.Get());
        ::GetOverlappedResult(connection.pipe.Get(), &overlapped, &read, TRUE);
        return;
      }
      ok = ::GetOverlappedResult(connection.pipe.Get(), &overlapped, &read, TRUE);
      error = ok ? 0 : ::GetLastError();
    }
    if (ok || error == ERROR_MORE_DATA) message.insert(message.end(), buffer.begin(), buffer.begin() + read);
    if (ok) {
      {
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(message));
      }
      message.clear();
      changed_.notify_all();
    } else if (error != ERROR_MORE_DATA) {
      {
        std::lock_guard lock(mutex_);
        ++clients_gone_;
      }
      changed_.notify_all();
      return;
    }
  }
}

void TestPipeServer::Stop(Connection& connection) {
  if (connection.stop) ::SetEvent(connection.stop.Get());
  if (connection.reader.joinable()) connection.reader.join();
}

void TestPipeServer::Release(Connection& connection) {
  std::lock_guard lock(connection.release);
  Stop(connection);
  connection.pipe.Reset();
  connection.stop.Reset();
}

template <typename Predicate>
bool TestPipeServer::WaitFor(DWORD timeoutMs, Predicate predicate) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), predicate);
}

std::vector<Bytes> TestPipeServer::Messages() {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::size_t TestPipeServer::MessageCount() {
  std::lock_guard lock(mutex_);
  return messages_.size();
}

bool TestPipeServer::WaitForMessages(std::size_t count, DWORD timeoutMs) {
  return WaitFor(timeoutMs, [&] { return messages_.size() >= count; });
}

std::size_t TestPipeServer::Connections() {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

bool TestPipeServer::WaitForConnections(std::size_t count, DWORD timeoutMs) {
  return WaitFor(timeoutMs, [&] { return connections_.size() >= count; });
}

bool TestPipeServer::ClientConnected(std::size_t index) {
  Connection* connection = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (index >= connections_.size()) return false;
    connection = connections_[index].get();
  }
  std::lock_guard lock(connection->release);
  return connection->pipe && ::PeekNamedPipe(connection->pipe.Get(), nullptr, 0, nullptr, nullptr, nullptr);
}

std::size_t TestPipeServer::ClientsGone() {
  std::lock_guard lock(mutex_);
  return clients_gone_;
}

bool TestPipeServer::WaitForClientsGone(std::size_t count, DWORD timeoutMs) {
  return WaitFor(timeoutMs, [&] { return clients_gone_ >= count; });
}

void TestPipeServer::StartReading() { ::SetEvent(reading_.Get()); }

void TestPipeServer::Send(std::size_t index, const Bytes& message) {
  {
    std::lock_guard lock(mutex_);
    outgoing_.emplace_back(index, message);
  }
  changed_.notify_all();
}

void TestPipeServer::SendLoop() {
  win32::UniqueHandle done = NewEvent();
  for (;;) {
    std::pair<std::size_t, Bytes> next;
    HANDLE pipe = nullptr;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !outgoing_.empty(); });
      if (stopping_) return;
      next = std::move(outgoing_.front());
      outgoing_.pop_front();
      pipe = connections_.at(next.first)->pipe.Get();
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = done.Get();
    static const std::uint8_t nothing = 0;
    const Bytes& message = next.second;
    DWORD written = 0;
    if (!::WriteFile(pipe, message.empty() ? &nothing : message.data(), static_cast<DWORD>(message.size()), &written,
                     &overlapped) &&
        ::GetLastError() == ERROR_IO_PENDING) {
      HANDLE events[] = {done.Get(), stop_.Get()};
      if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) ::CancelIo(pipe);
      ::GetOverlappedResult(pipe, &overlapped, &written, TRUE);
    }
  }
}

void TestPipeServer::Close(std::size_t index) {
  Connection* connection = nullptr;
  {
    std::lock_guard lock(mutex_);
    connection = connections_.at(index).get();
  }
  Release(*connection);
}

void TestPipeServer::Disconnect(std::size_t index) {
  Connection* connection = nullptr;
  {
    std::lock_guard lock(mutex_);
    connection = connections_.at(index).get();
  }
  std::lock_guard lock(connection->release);
  Stop(*connection);
  ::DisconnectNamedPipe(connection->pipe.Get());
}

}  // namespace zyp::testing
