#pragma once
// Waiting on a thread that owns windows: a worker that reports to its owner
// by sent messages can only finish once its owner handles them, so every wait
// of the owner for its worker goes on handling the owner's messages.
#include <windows.h>

namespace zyp::pipes {

// Dispatches every message waiting for the calling thread and takes in
// messages sent from other threads. An error kept by a window procedure
// during the pump is raised here. A quit request ends the pump and is left in
// the queue for the thread's message loop. A pump ends after a thousand
// messages at most, so a program that keeps posting to our windows cannot
// hold it.
void PumpMessages();

// Waits at most timeoutMs for the thread to end, handling the calling
// thread's messages meanwhile; true when it has ended. The caller keeps the
// handle open for the whole wait.
bool WaitForThread(HANDLE thread, DWORD timeoutMs = INFINITE);

}  // namespace zyp::pipes
