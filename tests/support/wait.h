#pragma once
// Waiting in tests for the event itself, never for a guessed time: poll a
// condition, or handle this thread's messages until it holds.
#include <windows.h>

#include <chrono>
#include <functional>

namespace zyp::testing {

using namespace std::chrono_literals;

// Polls until the condition holds; false when the time ran out first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = 10ms);

// Handles every message waiting for this thread.
void DispatchWaitingMessages();

// Handles this thread's messages with the pump until the condition holds or
// the time runs out; false when it ran out.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               const std::function<void()>& pump = DispatchWaitingMessages);

// Whether another thread waits in SendMessage for this thread, as a worker
// does while its notice is on the way.
bool SentMessageWaiting();

}  // namespace zyp::testing
