#pragma once
// Running code on the thread that created an object: a thread object's
// end-of-thread handler runs on its creating thread, carried there by a
// message sent to one hidden "ThreadSyncWindow" window per creating thread.
// Waiting for such a thread goes on handling the creating thread's messages,
// so the two threads cannot block each other.
#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "platform/win32/scoped_handle.h"

namespace zyp::pipes {

class TThreadSync;

// One creating thread: its sync window and how many TThreadSync objects of
// that thread are still registered.
struct TSyncInfo {
  DWORD FSyncBaseTID = 0;
  HWND FThreadWindow = nullptr;
  std::int32_t FThreadCount = 0;
  // Releases posted and not yet handled: another program may post
  // SYNC_RELEASE too, and only these count.
  std::int32_t pending_releases = 0;
};

class TSyncManager {
 public:
  // The process's manager, made on first use. Needs a running PipeModule.
  static TSyncManager& Instance();
  // Module shut-down: disposes of the manager and its windows.
  static void DestroyInstance();

  void AddThread(TThreadSync& threadSync);
  void RemoveThread(TThreadSync& threadSync);
  // Runs the object's method on its creating thread and waits for it.
  void Synchronize(TThreadSync& threadSync);

  // What is known about a creating thread: its window and registration
  // count; a zero window when the thread has no entry.
  TSyncInfo Lookup(DWORD threadId);

  TSyncManager() = default;
  ~TSyncManager();
  TSyncManager(const TSyncManager&) = delete;
  TSyncManager& operator=(const TSyncManager&) = delete;

 private:
  static LRESULT CALLBACK SyncWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static HWND CreateSyncWindow();

  TSyncInfo* FindSyncInfo(DWORD threadId);
  void DropSyncRef(TSyncInfo* entry);
  void DisposeSyncInfo(TSyncInfo* entry);
  void RunCall(TThreadSync* threadSync);

  win32::CriticalSection FThreadLock;
  std::vector<std::unique_ptr<TSyncInfo>> FList;
  // The live objects: a call or release that names anything else (another
  // program may post to our windows) is ignored.
  std::set<const TThreadSync*> FSyncs;
};

// Carries calls to the thread on which it was created.
class TThreadSync {
 public:
  TThreadSync();
  ~TThreadSync();
  TThreadSync(const TThreadSync&) = delete;
  TThreadSync& operator=(const TThreadSync&) = delete;

  // Runs method on the creating thread while the calling thread waits; an
  // exception that the method raises is raised again here. When the
  // creating thread has no sync window the method does not run.
  void Synchronize(std::function<void()> method);
  DWORD SyncBaseTID() const { return FSyncBaseTID; }

 private:
  friend class TSyncManager;

  std::exception_ptr FSyncRaise;
  std::function<void()> FMethod;
  DWORD FSyncBaseTID;
  // A call is on its way to the creating thread; guarded by the manager's
  // lock. A SYNC_CALL that finds none is not ours.
  bool calling_ = false;
};

// A thread whose end-of-thread handler runs on the thread that created it.
// It is created suspended (the derived part must exist before Execute can
// run); Run starts it.
class TThreadEx {
 public:
  TThreadEx();
  virtual ~TThreadEx();
  TThreadEx(const TThreadEx&) = delete;
  TThreadEx& operator=(const TThreadEx&) = delete;

  void Run();
  // Waits for the thread to end. On the creating thread, messages are
  // handled meanwhile, so the end-of-thread handler can run; the object may
  // be gone when this returns if it frees itself.
  void Wait();
  // The same for a thread known by its handle and the id of the thread that
  // created its object, for callers that must not touch an object that may
  // have freed itself; at most timeoutMs. True when the thread has ended.
  static bool WaitForThread(HANDLE thread, DWORD creatingThread, DWORD timeoutMs = INFINITE);
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }

  HANDLE Handle() const { return handle_.Get(); }
  TThreadSync& Sync() { return *FSync; }
  // The object deletes itself on its own thread once the thread has ended.
  void SetFreeOnTerminate(bool value) { free_on_terminate_ = value; }
  void SetPriority(int priority) { ::SetThreadPriority(handle_.Get(), priority); }
  // The exception that left Execute, if any; it is reported to no one.
  std::exception_ptr FatalException() const { return fatal_exception_; }

  // Runs on the creating thread after Execute has ended, while the thread
  // waits for it.
  std::function<void(TThreadEx& sender)> OnTerminate;

 protected:
  virtual void Execute() = 0;

 private:
  static unsigned __stdcall ThreadRoutine(void* parameter);
  void DoTerminate();

  std::unique_ptr<TThreadSync> FSync;
  win32::UniqueHandle handle_;
  unsigned thread_id_ = 0;
  bool started_ = false;
  bool free_on_terminate_ = false;
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::exception_ptr fatal_exception_;
};

// Dispatches every message waiting for the calling thread and takes in
// messages sent from other threads. An error kept by a window procedure
// during the pump is raised here. A quit request ends the pump and is left in
// the queue for the thread's message loop. A pump ends after a thousand
// messages at most, so a program that keeps posting to our windows cannot
// hold it.
void PumpMessages();

}  // namespace zyp::pipes
