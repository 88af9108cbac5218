#pragma once
// What the pipe client tests share: the module, a pump that waits for a
// condition, and a recorder of the client's events.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "pipes/pipe_client.h"
#include "pipes/pipe_module.h"
#include "pipes/thread_sync.h"
#include "tests/pipes/test_pipe_server.h"

namespace zyp::pipes::testing {

inline Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 31 + i / 65519);
  return bytes;
}

inline Bytes ReadAll(Stream& stream) {
  Bytes bytes(static_cast<std::size_t>(stream.Size() - stream.Position()));
  if (!bytes.empty()) bytes.resize(stream.Read(bytes.data(), bytes.size()));
  return bytes;
}

// Handles this thread's messages until the condition holds or time runs out.
template <typename Condition>
bool PumpUntil(Condition condition, DWORD timeoutMs = 10000) {
  const DWORD start = ::GetTickCount();
  while (!condition()) {
    if (::GetTickCount() - start >= timeoutMs) return false;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    PumpMessages();
  }
  return true;
}

struct EventRecorder {
  std::vector<Bytes> messages;
  std::vector<std::uint32_t> sent;
  std::vector<std::int32_t> errors;
  int disconnects = 0;
  std::function<void(PipeClient&, Stream&)> onMessage;

  void Attach(PipeClient& client) {
    client.on_pipe_message = [this](PipeClient& sender, HANDLE, Stream& stream) {
      messages.push_back(ReadAll(stream));
      if (onMessage) onMessage(sender, stream);
    };
    client.on_pipe_sent = [this](PipeClient&, HANDLE, std::uint32_t size) { sent.push_back(size); };
    client.on_pipe_error = [this](PipeClient&, HANDLE, std::int32_t code) { errors.push_back(code); };
    client.on_pipe_disconnect = [this](PipeClient&, HANDLE) { ++disconnects; };
  }
};

class PipeClientTest : public ::testing::Test {
 protected:
  PipeModule module_;
};

}  // namespace zyp::pipes::testing
