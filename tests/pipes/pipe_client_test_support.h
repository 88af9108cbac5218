#pragma once
// What the pipe client tests share: the module, a pump that waits for a
// condition, and a recorder of the client's events.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "pipes/pipe_client.h"
#include "pipes/pipe_module.h"
#include "pipes/thread_sync.h"
#include "tests/support/pattern_bytes.h"
#include "tests/support/scratch_files.h"
#include "tests/support/test_pipe_server.h"
#include "tests/support/wait.h"

namespace zyp::pipes::testing {

using namespace std::chrono_literals;

using zyp::testing::Bytes;
using zyp::testing::CountFiles;
using zyp::testing::Pattern;
using zyp::testing::ServerOptions;
using zyp::testing::TestPipeServer;

inline Bytes ReadAll(Stream& stream) {
  Bytes bytes(static_cast<std::size_t>(stream.Size() - stream.Position()));
  if (!bytes.empty()) bytes.resize(stream.Read(bytes.data(), bytes.size()));
  return bytes;
}

// Handles this thread's messages, the workers' notices among them, until the
// condition holds or time runs out.
inline bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000) {
  return zyp::testing::PumpUntil(condition, std::chrono::milliseconds(timeoutMs), PumpMessages);
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
