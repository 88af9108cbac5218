#include "companions/pipe_server.h"

#include <atomic>
#include <string>
#include <thread>

#include "companions/message_assembly.h"
#include "companions/pipe_names.h"
#include "companions/queue_message.h"
#include "intake/utf8.h"
#include "pipes/framing.h"

namespace zyp::companions {

namespace {

constexpr DWORD kBufferSize = 65536;
constexpr DWORD kReadChunk = 65536;
constexpr DWORD kStartTimeoutMs = 5000;

enum class Outcome { Done, Failed, Stopped };

// Finishes an overlapped operation that was just started. Stopping cancels
// it and waits for the cancellation, so the caller's buffer and OVERLAPPED
// are never left to the system. `bytes` holds what was transferred, also
// when a read stops with ERROR_MORE_DATA.
Outcome Finish(HANDLE handle, OVERLAPPED& overlapped, BOOL started, HANDLE stop, DWORD& bytes, DWORD& error) {
  bytes = 0;
  error = ERROR_SUCCESS;
  if (!started) {
    error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      const HANDLE waits[] = {overlapped.hEvent, stop};
      if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // A cancel that comes too late finds the operation done; either way
        // the wait returns once the system has let go of the buffer.
        ::CancelIoEx(handle, &overlapped);
        ::GetOverlappedResult(handle, &overlapped, &bytes, TRUE);
        error = ERROR_OPERATION_ABORTED;
        return Outcome::Stopped;
      }
    } else if (error != ERROR_MORE_DATA) {
      return Outcome::Failed;
    }
  }
  if (::GetOverlappedResult(handle, &overlapped, &bytes, FALSE)) return Outcome::Done;
  error = ::GetLastError();
  return Outcome::Failed;
}

// One whole pipe message, however many reads it takes.
Outcome ReadMessage(HANDLE pipe, HANDLE event, HANDLE stop, std::vector<std::uint8_t>& message, DWORD& error) {
  message.clear();
  for (;;) {
    const std::size_t held = message.size();
    message.resize(held + kReadChunk);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    const BOOL started = ::ReadFile(pipe, message.data() + held, kReadChunk, nullptr, &overlapped);
    DWORD bytes = 0;
    const Outcome outcome = Finish(pipe, overlapped, started, stop, bytes, error);
    message.resize(held + bytes);
    if (outcome == Outcome::Failed && error == ERROR_MORE_DATA) continue;
    return outcome;
  }
}

Outcome WriteMessage(HANDLE pipe, HANDLE event, HANDLE stop, const std::string& bytes, DWORD& error) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  const BOOL started = ::WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
  DWORD written = 0;
  return Finish(pipe, overlapped, started, stop, written, error);
}

win32::UniqueHandle NewEvent(bool manualReset, bool signalled) {
  return win32::UniqueHandle(::CreateEventW(nullptr, manualReset, signalled, nullptr));
}

win32::UniqueHandle NewInstance(DWORD maxInstances) {
  return win32::UniqueHandle(::CreateNamedPipeW(kManagerPipePath, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, maxInstances,
                                                kBufferSize, kBufferSize, 0, nullptr));
}

std::u16string_view ControlName(std::uint32_t marker) {
  if (marker == pipes::kStartMarker) return u"STMB";
  if (marker == pipes::kEndMarker) return u"ETMB";
  return u"other";
}

}  // namespace

PipeServer::PipeServer(Journal& journal, const ManagerKnobs& knobs, ActivityClock& activity)
    : journal_(journal),
      knobs_(knobs),
      activity_(activity),
      stop_(NewEvent(true, false)),
      listening_(NewEvent(true, false)) {
  if (knobs_.flood == u"huge") hugeMessage_.assign(static_cast<std::size_t>(knobs_.floodMb) * 1024 * 1024, 'h');
}

PipeServer::~PipeServer() {
  // Fails only without the event, and then Start ran no thread to stop.
  ::SetEvent(stop_.Get());
  if (listener_.joinable()) listener_.join();
  // The listener has ended, so no connection is added any more.
  for (std::thread& connection : connections_) connection.join();
}

bool PipeServer::Start() {
  if (!stop_ || !listening_) return false;
  listener_ = std::thread([this] { Listen(); });
  return ::WaitForSingleObject(listening_.Get(), kStartTimeoutMs) == WAIT_OBJECT_0 && !listeningFailed_;
}

void PipeServer::Listen() noexcept {
  try {
    if (knobs_.busy) {
      HoldBusy();
      return;
    }
    const win32::UniqueHandle connected = NewEvent(true, false);
    std::uint32_t nextConnection = 1;
    for (;;) {
      win32::UniqueHandle pipe = NewInstance(PIPE_UNLIMITED_INSTANCES);
      if (!pipe) {
        journal_.Write(JournalEntry("pipe_error").Text("call", u"CreateNamedPipeW").Number("error", ::GetLastError()));
        listeningFailed_ = true;
        ::SetEvent(listening_.Get());
        return;
      }
      OVERLAPPED overlapped{};
      overlapped.hEvent = connected.Get();
      const BOOL started = ::ConnectNamedPipe(pipe.Get(), &overlapped);
      // Start waits for this event: a failure would cost it only its time-out.
      ::SetEvent(listening_.Get());
      DWORD bytes = 0;
      DWORD error = ERROR_SUCCESS;
      Outcome outcome = Finish(pipe.Get(), overlapped, started, stop_.Get(), bytes, error);
      // A client that came between creation and ConnectNamedPipe is connected too.
      if (outcome == Outcome::Failed && error == ERROR_PIPE_CONNECTED) outcome = Outcome::Done;
      if (outcome == Outcome::Stopped) return;
      if (outcome == Outcome::Failed) {
        journal_.Write(JournalEntry("pipe_error").Text("call", u"ConnectNamedPipe").Number("error", error));
        continue;
      }
      const std::uint32_t connection = nextConnection++;
      const std::lock_guard lock(connectionsMutex_);
      connections_.emplace_back(
          [this, connection, owned = std::move(pipe)]() mutable { Serve(std::move(owned), connection); });
    }
  } catch (...) {
    listeningFailed_ = true;
    ::SetEvent(listening_.Get());
  }
}

void PipeServer::HoldBusy() {
  // The only instance the pipe may have, taken by a client of our own: other
  // clients find every instance busy for as long as we run.
  const win32::UniqueHandle pipe = NewInstance(1);
  const win32::UniqueHandle connected = NewEvent(true, false);
  win32::UniqueHandle client;
  if (pipe) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected.Get();
    const BOOL started = ::ConnectNamedPipe(pipe.Get(), &overlapped);
    client.Reset(::CreateFileW(kManagerPipePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!client) ::SetEvent(stop_.Get());  // cancels the wait below
    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;
    // Connected or stopped, the instance stays taken until the server ends.
    Finish(pipe.Get(), overlapped, started, stop_.Get(), bytes, error);
  }
  listeningFailed_ = !client;
  if (listeningFailed_)
    journal_.Write(JournalEntry("pipe_error").Text("call", u"busy instance").Number("error", ::GetLastError()));
  ::SetEvent(listening_.Get());
  ::WaitForSingleObject(stop_.Get(), INFINITE);
}

void PipeServer::Serve(win32::UniqueHandle pipe, std::uint32_t connection) noexcept {
  try {
    activity_.Touch();
    journal_.Write(JournalEntry("connect").Number("connection", connection));
    if (knobs_.hangUp) {
      // A client gone already needs no disconnecting: the handle closes anyway.
      ::DisconnectNamedPipe(pipe.Get());
      journal_.Write(JournalEntry("disconnect").Number("connection", connection).Text("reason", u"hang up"));
      return;
    }
    if (knobs_.hangUpUnread) {
      // The client's write is complete once its bytes wait in the pipe.
      DWORD waiting = 0;
      while (::PeekNamedPipe(pipe.Get(), nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0 &&
             ::WaitForSingleObject(stop_.Get(), 5) == WAIT_TIMEOUT) {
      }
      ::DisconnectNamedPipe(pipe.Get());
      journal_.Write(JournalEntry("disconnect").Number("connection", connection).Text("reason", u"hang up unread"));
      return;
    }
    if (knobs_.noRead) {
      ::WaitForSingleObject(stop_.Get(), INFINITE);
      journal_.Write(JournalEntry("disconnect").Number("connection", connection).Text("reason", u"stop"));
      return;
    }
    Receive(pipe.Get(), connection);
  } catch (...) {
    // A connection that fails ends alone; the server goes on.
  }
}

void PipeServer::Receive(HANDLE pipe, std::uint32_t connection) {
  const win32::UniqueHandle event = NewEvent(true, false);
  std::vector<std::uint8_t> message;
  MessageAssembly assembly;
  std::uint32_t pipeMessages = 0;
  std::u16string reason = u"stop";
  DWORD error = ERROR_SUCCESS;

  for (;;) {
    if (knobs_.slowReadMs != 0 && ::WaitForSingleObject(stop_.Get(), knobs_.slowReadMs) == WAIT_OBJECT_0) break;
    const Outcome outcome = ReadMessage(pipe, event.Get(), stop_.Get(), message, error);
    if (outcome == Outcome::Stopped) break;
    if (outcome == Outcome::Failed) {
      reason = error == ERROR_BROKEN_PIPE ? u"closed by client" : u"read error";
      break;
    }
    activity_.Touch();
    ++pipeMessages;

    const pipes::ReceiveStep step = pipes::ClassifyMessage(message, assembly.IsOpen());
    if (const auto marker = pipes::ControlMarker(message)) {
      JournalEntry entry("control");
      entry.Number("connection", connection).Text("marker", ControlName(*marker));
      if (assembly.IsOpen() && step != pipes::ReceiveStep::DeliverOpen)
        entry.Number("dropped_bytes", static_cast<std::int64_t>(assembly.OpenSize()));
      journal_.Write(entry);
    }
    if (const auto delivered = assembly.Apply(step, message))
      Deliver(pipe, connection, delivered->bytes, delivered->packets);
    if (knobs_.closeAfter != 0 && pipeMessages >= knobs_.closeAfter) {
      reason = u"close after";
      break;
    }
  }

  // Disconnected before it is journaled: a test that saw the entry finds
  // the pipe closed. A client gone already needs no disconnecting.
  ::DisconnectNamedPipe(pipe);
  JournalEntry entry("disconnect");
  entry.Number("connection", connection).Text("reason", reason).Number("error", error);
  entry.Number("pipe_messages", pipeMessages);
  if (assembly.IsOpen()) entry.Number("dropped_bytes", static_cast<std::int64_t>(assembly.OpenSize()));
  journal_.Write(entry);
}

void PipeServer::Deliver(HANDLE pipe, std::uint32_t connection, const std::vector<std::uint8_t>& bytes,
                         std::uint32_t packets) {
  const std::u16string text =
      intake::FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  const QueueMessage message = ParseQueueMessage(text);
  JournalEntry entry("message");
  entry.Number("connection", connection).Text("kind", KindName(message.kind)).Text("text", text);
  switch (message.kind) {
    case QueueMessage::Kind::AddUrl:
      entry.Text("address", message.address).Flag("has_extra", message.hasExtra).Text("extra", message.extra);
      // Read when the message arrives: the program must have written the
      // site's cookies before it sent the address.
      if (const std::u16string file = cookies_.FileName(message.address); !file.empty()) {
        entry.Text("cookie_file", file);
        if (const auto line = cookies_.Line(message.address)) entry.Text("cookies", *line);
      }
      break;
    case QueueMessage::Kind::AddUrls:
      entry.Text("list", message.list);
      break;
    case QueueMessage::Kind::Other:
      break;
  }
  entry.Number("size", static_cast<std::int64_t>(bytes.size())).Number("packets", packets).Hex("bytes_hex", bytes);
  journal_.Write(entry);

  if (!knobs_.reply.empty()) {
    const win32::UniqueHandle event = NewEvent(true, false);
    DWORD error = ERROR_SUCCESS;
    const bool sent =
        WriteMessage(pipe, event.Get(), stop_.Get(), intake::ToUtf8(knobs_.reply), error) == Outcome::Done;
    journal_.Write(JournalEntry("reply").Number("connection", connection).Flag("sent", sent).Number("error", error));
  }
  if (!knobs_.flood.empty()) Flood(pipe, connection);
}

void PipeServer::Flood(HANDLE pipe, std::uint32_t connection) {
  const win32::UniqueHandle event = NewEvent(true, false);
  DWORD error = ERROR_SUCCESS;
  std::int64_t written = 0;
  auto write = [&](const std::string& bytes) {
    if (WriteMessage(pipe, event.Get(), stop_.Get(), bytes, error) != Outcome::Done) return false;
    written += static_cast<std::int64_t>(bytes.size());
    return true;
  };
  auto control = [](std::uint32_t marker) {
    const pipes::ControlPacket packet = pipes::MakeControlPacket(marker);
    return std::string(packet.begin(), packet.end());
  };
  // Several writers at once keep the pipe full however fast the client
  // reads; pieces may come in any order, they all go into one message.
  const bool pieces = knobs_.flood == u"pieces";
  std::atomic<std::int64_t> more{0};
  auto writer = [&] {
    const win32::UniqueHandle own = NewEvent(true, false);
    const std::string bytes(pieces ? pipes::kMaxPipeWrite : 64, pieces ? 'p' : 'm');
    DWORD ignored = ERROR_SUCCESS;
    while (WriteMessage(pipe, own.Get(), stop_.Get(), bytes, ignored) == Outcome::Done)
      more += static_cast<std::int64_t>(bytes.size());
  };
  if (knobs_.flood == u"huge") {
    write(hugeMessage_);
  } else if (!pieces || write(control(pipes::kStartMarker))) {
    std::thread writers[4];
    for (auto& other : writers) other = std::thread(writer);
    for (auto& other : writers) other.join();
    written += more.load();
  }
  journal_.Write(
      JournalEntry("flood").Number("connection", connection).Number("written", written).Number("error", error));
}

}  // namespace zyp::companions
