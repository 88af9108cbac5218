#pragma once
// The stand-in queue manager's pipe server: a message-mode pipe with any
// number of instances, one of them waiting for a client at a time. Each
// connection is read on a thread of its own, which reassembles multi-packet
// messages by the same receiving rule as the program's pipe client and
// journals every whole message, with the cookie line of each address.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "companions/activity_clock.h"
#include "companions/cookie_reader.h"
#include "companions/journal.h"
#include "companions/manager_knobs.h"
#include "platform/win32/scoped_handle.h"

namespace zyp::companions {

class PipeServer {
 public:
  PipeServer(Journal& journal, const ManagerKnobs& knobs, ActivityClock& activity);
  // Stops listening, ends every connection and waits for their threads.
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Starts the listener and waits until the first instance takes clients;
  // false when the pipe could not be created.
  bool Start();

 private:
  void Listen() noexcept;
  void HoldBusy();
  void Serve(win32::UniqueHandle pipe, std::uint32_t connection) noexcept;
  void Receive(HANDLE pipe, std::uint32_t connection);
  // Writes what the flood knob asks for, until the client is gone.
  void Flood(HANDLE pipe, std::uint32_t connection);
  void Deliver(HANDLE pipe, std::uint32_t connection, const std::vector<std::uint8_t>& bytes, std::uint32_t packets);

  Journal& journal_;
  const ManagerKnobs knobs_;
  ActivityClock& activity_;
  CookieReader cookies_;
  win32::UniqueHandle stop_;       // set once: everything winds down
  win32::UniqueHandle listening_;  // set when clients can connect, or when listening failed
  std::atomic<bool> listeningFailed_{false};
  // The one huge message of the flood knob, made before any client comes so
  // that it follows the client's message at once.
  std::string hugeMessage_;
  std::thread listener_;
  std::mutex connectionsMutex_;
  std::vector<std::thread> connections_;
};

}  // namespace zyp::companions
