// Measures the pipe client against the least code that moves the same bytes
// over the same kind of message-mode pipe, and prints medians and ratios:
//   send     64 MiB in 65534-byte writes, until an in-process server has read
//            it all, against a WriteFile + FlushFileBuffers loop;
//   receive  64 MiB as multi-packet messages of 1 MiB, until the owner has
//            been handed the last one, against a ReadFile loop;
//   memory   the private bytes a child process needs above its idle level to
//            receive one 256 MiB multi-packet message.
//   zyp_pipe_bench.exe [runs]   (default 5)
// The child is this program again: zyp_pipe_bench.exe --memory-child <pipe>.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "pipes/framing.h"
#include "pipes/pipe_client.h"
#include "pipes/pipe_module.h"
#include "pipes/thread_sync.h"
#include "platform/win32/check.h"
#include "platform/win32/scoped_handle.h"

namespace {

using zyp::pipes::kMaxPipeWrite;
using zyp::pipes::PipeClient;
using zyp::pipes::Stream;
using zyp::win32::UniqueHandle;

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kStreamBytes = 64 * kMiB;
constexpr std::uint64_t kMessageBytes = 1 * kMiB;
constexpr std::uint64_t kBigMessageBytes = 256 * kMiB;
constexpr DWORD kPipeBuffer = 65536;
constexpr DWORD kDeadlineMs = 60000;

double NowMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double MiBPerSecond(std::uint64_t bytes, double ms) {
  return ms > 0 ? static_cast<double>(bytes) / static_cast<double>(kMiB) / (ms / 1000.0) : 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

[[noreturn]] void Fail(const char* what) {
  const DWORD code = ::GetLastError();
  std::fprintf(stderr, "%s failed: %lu\n", what, static_cast<unsigned long>(code));
  zyp::win32::ThrowLastError(what, code);
}

// Each measurement gets a pipe of its own, so that a straggler of the last
// one can never connect to the next.
std::wstring UniquePipeName() {
  static int counter = 0;
  return L"zyp-pipe-bench-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

std::wstring PipePath(const std::wstring& name) { return L"\\\\.\\pipe\\" + name; }

UniqueHandle MakeServer(const std::wstring& name) {
  UniqueHandle pipe(::CreateNamedPipeW(PipePath(name).c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kPipeBuffer,
                                       kPipeBuffer, 0, nullptr));
  if (!pipe) Fail("CreateNamedPipeW");
  return pipe;
}

void AwaitClient(HANDLE pipe) {
  if (!::ConnectNamedPipe(pipe, nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED) Fail("ConnectNamedPipe");
}

UniqueHandle OpenRawClient(const std::wstring& name) {
  UniqueHandle pipe(
      ::CreateFileW(PipePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!pipe) Fail("CreateFileW (pipe)");
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!::SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr)) Fail("SetNamedPipeHandleState");
  return pipe;
}

void WriteMessage(HANDLE pipe, const void* data, DWORD size) {
  DWORD written = 0;
  if (!::WriteFile(pipe, data, size, &written, nullptr) || written != size) Fail("WriteFile");
}

// Writes one message of size bytes framed as start packet, pieces of the
// largest single write and end packet.
void WriteMultiPacket(HANDLE pipe, std::uint64_t size, const std::vector<std::uint8_t>& piece) {
  const auto start = zyp::pipes::MakeControlPacket(zyp::pipes::kStartMarker);
  const auto end = zyp::pipes::MakeControlPacket(zyp::pipes::kEndMarker);
  WriteMessage(pipe, start.data(), static_cast<DWORD>(start.size()));
  for (std::uint64_t left = size; left > 0;) {
    const DWORD count = static_cast<DWORD>(std::min<std::uint64_t>(left, piece.size()));
    WriteMessage(pipe, piece.data(), count);
    left -= count;
  }
  WriteMessage(pipe, end.data(), static_cast<DWORD>(end.size()));
}

std::uint64_t WireBytes(std::uint64_t messages, std::uint64_t size) {
  return messages * (size + 2 * zyp::pipes::kControlPacketSize);
}

std::vector<std::uint8_t> Piece() {
  std::vector<std::uint8_t> piece(kMaxPipeWrite);
  for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return piece;
}

// A server thread's work; what it raised is raised again when it is joined.
class ServerThread {
 public:
  explicit ServerThread(std::function<void()> work)
      : thread_([this, work = std::move(work)] {
          try {
            work();
          } catch (...) {
            error_ = std::current_exception();
          }
        }) {}
  ~ServerThread() {
    if (thread_.joinable()) thread_.join();
  }
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;

  void Join() {
    thread_.join();
    if (error_) std::rethrow_exception(error_);
  }

 private:
  std::exception_ptr error_;
  std::thread thread_;
};

// Handles the calling thread's messages until done() holds; false when the
// deadline passed first.
bool PumpUntil(const std::function<bool()>& done, HANDLE event = nullptr) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    const DWORD waited = ::GetTickCount() - start;
    if (waited >= kDeadlineMs) return false;
    const DWORD count = event != nullptr ? 1 : 0;
    ::MsgWaitForMultipleObjectsEx(count, &event, kDeadlineMs - waited, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    zyp::pipes::PumpMessages();
  }
  return true;
}

// Reads until total bytes have arrived; returns when they have.
void ReadAll(HANDLE pipe, std::uint64_t total, double& endMs) {
  std::vector<std::uint8_t> buffer(kPipeBuffer);
  std::uint64_t read = 0;
  while (read < total) {
    DWORD count = 0;
    if (!::ReadFile(pipe, buffer.data(), kPipeBuffer, &count, nullptr) && ::GetLastError() != ERROR_MORE_DATA)
      Fail("ReadFile (server)");
    read += count;
  }
  endMs = NowMs();
}

// Milliseconds until the server has read the whole stream.
double SendThroughClient() {
  const std::wstring name = UniquePipeName();
  const UniqueHandle server = MakeServer(name);
  const UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  double endMs = 0;
  ServerThread reader([&] {
    AwaitClient(server.Get());
    ReadAll(server.Get(), kStreamBytes, endMs);
    ::SetEvent(done.Get());
  });
  const std::vector<std::uint8_t> piece = Piece();
  PipeClient client;
  client.SetPipeName(zyp::win32::FromWide(name));
  std::uint64_t sent = 0;
  client.on_pipe_sent = [&](PipeClient&, HANDLE, std::uint32_t size) { sent += size; };
  if (!client.Connect(5000, true)) Fail("PipeClient::Connect");
  const double start = NowMs();
  for (std::uint64_t left = kStreamBytes; left > 0;) {
    const auto count = static_cast<std::int32_t>(std::min<std::uint64_t>(left, piece.size()));
    if (!client.Write(piece.data(), count)) Fail("PipeClient::Write");
    left -= static_cast<std::uint64_t>(count);
  }
  const bool arrived = PumpUntil([&] { return ::WaitForSingleObject(done.Get(), 0) == WAIT_OBJECT_0; }, done.Get());
  // The last sent notices, so that the count below is whole.
  PumpUntil([&] { return sent >= kStreamBytes; });
  client.Disconnect();
  reader.Join();
  if (!arrived) throw zyp::Error(u"send through the client did not finish");
  if (sent != kStreamBytes)
    std::printf("  note: sent notices counted %llu bytes\n", static_cast<unsigned long long>(sent));
  return endMs - start;
}

double SendRaw() {
  const std::wstring name = UniquePipeName();
  const UniqueHandle server = MakeServer(name);
  double endMs = 0;
  ServerThread reader([&] {
    AwaitClient(server.Get());
    ReadAll(server.Get(), kStreamBytes, endMs);
  });
  const std::vector<std::uint8_t> piece = Piece();
  const UniqueHandle client = OpenRawClient(name);
  const double start = NowMs();
  for (std::uint64_t left = kStreamBytes; left > 0;) {
    const DWORD count = static_cast<DWORD>(std::min<std::uint64_t>(left, piece.size()));
    WriteMessage(client.Get(), piece.data(), count);
    if (!::FlushFileBuffers(client.Get())) Fail("FlushFileBuffers");
    left -= count;
  }
  reader.Join();
  return endMs - start;
}

// Sends the messages once the client says go, and returns once it has read
// them all.
void ServeMessages(HANDLE server, HANDLE go, std::uint64_t messages, std::uint64_t size) {
  const std::vector<std::uint8_t> piece = Piece();
  AwaitClient(server);
  if (::WaitForSingleObject(go, kDeadlineMs) != WAIT_OBJECT_0) throw zyp::Error(u"the client never said go");
  for (std::uint64_t i = 0; i < messages; ++i) WriteMultiPacket(server, size, piece);
  ::FlushFileBuffers(server);
}

// Milliseconds until the owner has been handed the last message.
double ReceiveThroughClient() {
  const std::wstring name = UniquePipeName();
  const UniqueHandle server = MakeServer(name);
  const UniqueHandle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  constexpr std::uint64_t messages = kStreamBytes / kMessageBytes;
  ServerThread writer([&] { ServeMessages(server.Get(), go.Get(), messages, kMessageBytes); });
  PipeClient client;
  client.SetPipeName(zyp::win32::FromWide(name));
  std::uint64_t received = 0;
  std::uint64_t bytes = 0;
  client.on_pipe_message = [&](PipeClient&, HANDLE, Stream& stream) {
    ++received;
    bytes += stream.Size();
  };
  if (!client.Connect(5000, true)) Fail("PipeClient::Connect");
  const double start = NowMs();
  ::SetEvent(go.Get());
  const bool arrived = PumpUntil([&] { return received >= messages; });
  const double end = NowMs();
  client.Disconnect();
  writer.Join();
  if (!arrived) throw zyp::Error(u"receive through the client did not finish");
  if (bytes != kStreamBytes)
    std::printf("  note: the client was handed %llu bytes\n", static_cast<unsigned long long>(bytes));
  return end - start;
}

double ReceiveRaw() {
  const std::wstring name = UniquePipeName();
  const UniqueHandle server = MakeServer(name);
  const UniqueHandle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  constexpr std::uint64_t messages = kStreamBytes / kMessageBytes;
  ServerThread writer([&] { ServeMessages(server.Get(), go.Get(), messages, kMessageBytes); });
  const UniqueHandle client = OpenRawClient(name);
  double end = 0;
  const double start = NowMs();
  ::SetEvent(go.Get());
  ReadAll(client.Get(), WireBytes(messages, kMessageBytes), end);
  writer.Join();
  return end - start;
}

UniqueHandle NewTempFile() {
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t name[MAX_PATH + 1] = {};
  if (::GetTempPathW(MAX_PATH, folder) == 0 || ::GetTempFileNameW(folder, L"PBN", 0, name) == 0)
    Fail("GetTempFileNameW");
  UniqueHandle file(::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file) Fail("CreateFileW (temporary file)");
  return file;
}

// Not a goal, a yardstick: the raw loop doing the client's extra work of
// collecting each message in a temporary file of its own.
double ReceiveRawIntoFiles() {
  const std::wstring name = UniquePipeName();
  const UniqueHandle server = MakeServer(name);
  const UniqueHandle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  constexpr std::uint64_t messages = kStreamBytes / kMessageBytes;
  ServerThread writer([&] { ServeMessages(server.Get(), go.Get(), messages, kMessageBytes); });
  const UniqueHandle client = OpenRawClient(name);
  std::vector<std::uint8_t> buffer(kPipeBuffer);
  UniqueHandle file;
  std::uint64_t done = 0;
  const double start = NowMs();
  ::SetEvent(go.Get());
  while (done < messages) {
    DWORD count = 0;
    if (!::ReadFile(client.Get(), buffer.data(), kPipeBuffer, &count, nullptr)) Fail("ReadFile (client)");
    const auto marker = zyp::pipes::ControlMarker(std::span<const std::uint8_t>(buffer.data(), count));
    if (marker == zyp::pipes::kStartMarker) {
      file = NewTempFile();
    } else if (marker == zyp::pipes::kEndMarker) {
      file.Reset();
      ++done;
    } else {
      WriteMessage(file.Get(), buffer.data(), count);
    }
  }
  const double end = NowMs();
  writer.Join();
  return end - start;
}

// Private bytes are read as PagefileUsage, the commit charge: the same figure
// as PrivateUsage on Windows, and the only one of the two that Wine fills in.
PROCESS_MEMORY_COUNTERS_EX MemoryOf(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
    Fail("GetProcessMemoryInfo");
  return counters;
}

std::string ReadMessage(HANDLE pipe) {
  char buffer[256] = {};
  DWORD count = 0;
  if (!::ReadFile(pipe, buffer, sizeof buffer - 1, &count, nullptr)) Fail("ReadFile (child's report)");
  return std::string(buffer, count);
}

// The child: connects, tells its idle level, receives the big message and
// tells its peak, then waits for the parent's leave to go (so that the parent
// can look at it from outside meanwhile).
int MemoryChild(const wchar_t* pipeName) {
  PipeClient client;
  client.SetPipeName(zyp::win32::FromWide(pipeName));
  std::uint64_t messages = 0;
  std::uint64_t bigSize = 0;
  client.on_pipe_message = [&](PipeClient&, HANDLE, Stream& stream) {
    if (++messages == 1) bigSize = stream.Size();
  };
  if (!client.Connect(5000, true)) return 2;
  const PROCESS_MEMORY_COUNTERS_EX idle = MemoryOf(::GetCurrentProcess());
  char report[160];
  int length =
      std::snprintf(report, sizeof report, "idle %llu %llu", static_cast<unsigned long long>(idle.PagefileUsage),
                    static_cast<unsigned long long>(idle.PeakPagefileUsage));
  client.Write(report, length);
  if (!PumpUntil([&] { return messages >= 1; })) return 3;
  const PROCESS_MEMORY_COUNTERS_EX after = MemoryOf(::GetCurrentProcess());
  length = std::snprintf(report, sizeof report, "done %llu %llu %llu", static_cast<unsigned long long>(bigSize),
                         static_cast<unsigned long long>(after.PagefileUsage),
                         static_cast<unsigned long long>(after.PeakPagefileUsage));
  client.Write(report, length);
  if (!PumpUntil([&] { return messages >= 2; })) return 4;
  client.Disconnect();
  return bigSize == kBigMessageBytes ? 0 : 5;
}

void MeasureMemory() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, temp);
  ULARGE_INTEGER free{};
  if (!::GetDiskFreeSpaceExW(temp, &free, nullptr, nullptr) || free.QuadPart < kBigMessageBytes + 64 * kMiB) {
    std::printf("memory: skipped, the temporary folder has %llu MiB free\n",
                static_cast<unsigned long long>(free.QuadPart / kMiB));
    return;
  }
  const std::wstring name = UniquePipeName();
  const UniqueHandle server = MakeServer(name);
  wchar_t self[MAX_PATH + 1] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --memory-child " + name;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    Fail("CreateProcessW");
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);

  AwaitClient(server.Get());
  unsigned long long idlePrivate = 0, idlePeak = 0;
  if (std::sscanf(ReadMessage(server.Get()).c_str(), "idle %llu %llu", &idlePrivate, &idlePeak) != 2)
    throw zyp::Error(u"the child's idle report is malformed");
  const double start = NowMs();
  WriteMultiPacket(server.Get(), kBigMessageBytes, Piece());
  unsigned long long size = 0, afterPrivate = 0, afterPeak = 0;
  if (std::sscanf(ReadMessage(server.Get()).c_str(), "done %llu %llu %llu", &size, &afterPrivate, &afterPeak) != 3)
    throw zyp::Error(u"the child's report is malformed");
  const double end = NowMs();
  const PROCESS_MEMORY_COUNTERS_EX outside = MemoryOf(process.Get());
  const char bye[] = "bye";
  WriteMessage(server.Get(), bye, sizeof bye - 1);
  DWORD exitCode = 1;
  if (::WaitForSingleObject(process.Get(), kDeadlineMs) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(process.Get(), &exitCode))
    exitCode = 1;

  const auto mib = [](unsigned long long bytes) { return static_cast<double>(bytes) / static_cast<double>(kMiB); };
  std::printf("memory: one %llu MiB message received in %.0f ms (%.1f MiB/s), child exit code %lu\n",
              static_cast<unsigned long long>(size / kMiB), end - start, MiBPerSecond(size, end - start),
              static_cast<unsigned long>(exitCode));
  std::printf("  idle private %.2f MiB (peak so far %.2f MiB); after: private %.2f MiB, peak %.2f MiB\n",
              mib(idlePrivate), mib(idlePeak), mib(afterPrivate), mib(afterPeak));
  std::printf("  peak seen from the parent %.2f MiB\n", mib(outside.PeakPagefileUsage));
  const double above =
      mib(std::max(afterPeak, static_cast<unsigned long long>(outside.PeakPagefileUsage))) - mib(idlePrivate);
  std::printf("  peak above idle %.2f MiB (goal < 16) %s\n", above, above < 16 ? "ok" : "MISSED");
}

void Compare(const char* what, std::uint64_t bytes, int runs, double (*client)(), double (*raw)(), bool goal = true) {
  std::vector<double> clientRates;
  std::vector<double> rawRates;
  // Alternated, so that a slow patch of the machine hits both alike.
  for (int i = 0; i < runs; ++i) {
    clientRates.push_back(MiBPerSecond(bytes, client()));
    rawRates.push_back(MiBPerSecond(bytes, raw()));
  }
  const double clientRate = Median(clientRates);
  const double rawRate = Median(rawRates);
  const double ratio = rawRate > 0 ? clientRate / rawRate : 0;
  std::printf("%s: client %.1f MiB/s, raw %.1f MiB/s, ratio %.3f%s\n", what, clientRate, rawRate, ratio,
              !goal          ? ""
              : ratio >= 0.9 ? " (goal >= 0.9) ok"
                             : " (goal >= 0.9) MISSED");
  std::printf("  runs client:");
  for (double rate : clientRates) std::printf(" %.1f", rate);
  std::printf("  raw:");
  for (double rate : rawRates) std::printf(" %.1f", rate);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    const zyp::pipes::PipeModule module;
    if (argc == 3 && std::wcscmp(argv[1], L"--memory-child") == 0) return MemoryChild(argv[2]);
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 5;
    std::printf("pipe client against raw pipe calls, median of %d runs\n", runs);
    std::fflush(stdout);
    Compare("send 64 MiB in 65534-byte writes", kStreamBytes, runs, SendThroughClient, SendRaw);
    Compare("receive 64 MiB as 1 MiB multi-packet messages", kStreamBytes, runs, ReceiveThroughClient, ReceiveRaw);
    Compare("  yardstick: raw reads collected in temporary files", kStreamBytes, runs, ReceiveThroughClient,
            ReceiveRawIntoFiles, false);
    MeasureMemory();
    return 0;
  } catch (const zyp::Error& error) {
    std::fprintf(stderr, "error: %ls\n", zyp::win32::Wide(error.Message()));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "error: %s\n", error.what());
  }
  return 1;
}
