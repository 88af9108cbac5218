#include "pipes/thread_sync.h"

#include <process.h>

#include <algorithm>
#include <optional>

#include "pipes/pipe_messages.h"
#include "pipes/pipe_module.h"
#include "platform/win32/message_window.h"
#include "platform/win32/wide_text.h"

namespace zyp::pipes {

namespace {

constexpr wchar_t kSyncWindowClass[] = L"ThreadSyncWindow";

// Guarded by PipeModuleLock.
TSyncManager* g_manager = nullptr;

// Another program may post to our windows faster than we take the messages
// in: a pump hands control back after this many, so that the waits that pump
// still see their own ends.
constexpr int kMaxPumpedMessages = 1000;

// Takes every waiting message; stops early at a quit request, whose exit
// code it keeps, so that the caller can leave it for the message loop.
void PumpInto(std::optional<WPARAM>& quit) {
  MSG msg;
  for (int pumped = 0; pumped < kMaxPumpedMessages && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++pumped) {
    if (msg.message == WM_QUIT) {
      quit = msg.wParam;
      break;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    win32::RethrowDispatchError();
    ::Sleep(0);
  }
  // Messages sent from other threads run inside PeekMessageW.
  win32::RethrowDispatchError();
}

// Leaves a quit request taken during a pump in the queue again.
class QuitKeeper {
 public:
  ~QuitKeeper() {
    if (quit) ::PostQuitMessage(static_cast<int>(*quit));
  }
  std::optional<WPARAM> quit;
};

}  // namespace

void PumpMessages() {
  QuitKeeper keeper;
  PumpInto(keeper.quit);
}

// ---------------------------------------------------------------- TSyncManager

TSyncManager& TSyncManager::Instance() {
  win32::CriticalSectionLock lock(PipeModuleLock());
  if (g_manager == nullptr) g_manager = new TSyncManager();
  return *g_manager;
}

void TSyncManager::DestroyInstance() {
  win32::CriticalSectionLock lock(PipeModuleLock());
  delete std::exchange(g_manager, nullptr);
}

TSyncManager::~TSyncManager() {
  win32::CriticalSectionLock lock(FThreadLock);
  while (!FList.empty()) {
    TSyncInfo* entry = FList.back().get();
    DisposeSyncInfo(entry);
    // A thread whose window was never made keeps its entry until now.
    if (!FList.empty() && FList.back().get() == entry) FList.pop_back();
  }
}

TSyncInfo* TSyncManager::FindSyncInfo(DWORD threadId) {
  for (const auto& entry : FList)
    if (entry->FSyncBaseTID == threadId) return entry.get();
  return nullptr;
}

TSyncInfo TSyncManager::Lookup(DWORD threadId) {
  win32::CriticalSectionLock lock(FThreadLock);
  const TSyncInfo* entry = FindSyncInfo(threadId);
  return entry != nullptr ? *entry : TSyncInfo{threadId, nullptr, 0};
}

HWND TSyncManager::CreateSyncWindow() {
  // A failed registration shows as a failed creation.
  win32::EnsureWindowClass(kSyncWindowClass, &TSyncManager::SyncWindowProc);
  return ::CreateWindowExW(0, kSyncWindowClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr),
                           nullptr);
}

void TSyncManager::AddThread(TThreadSync& threadSync) {
  win32::CriticalSectionLock lock(FThreadLock);
  FSyncs.insert(&threadSync);
  TSyncInfo* entry = FindSyncInfo(threadSync.FSyncBaseTID);
  if (entry == nullptr) {
    FList.push_back(std::make_unique<TSyncInfo>(TSyncInfo{threadSync.FSyncBaseTID, nullptr, 0}));
    entry = FList.back().get();
  }
  // A thread that ended before it handled its releases took its window with
  // it, and a new thread may now have its id: such an entry starts afresh
  // instead of carrying calls to a window that is gone.
  if (entry->FThreadCount != 0 && ::GetWindowThreadProcessId(entry->FThreadWindow, nullptr) != entry->FSyncBaseTID) {
    entry->FThreadCount = 0;
    entry->pending_releases = 0;
  }
  // Made here, on the creating thread, which alone may destroy it later.
  if (entry->FThreadCount == 0) entry->FThreadWindow = CreateSyncWindow();
  ++entry->FThreadCount;
}

void TSyncManager::RemoveThread(TThreadSync& threadSync) {
  win32::CriticalSectionLock lock(FThreadLock);
  FSyncs.erase(&threadSync);
  // The count drops when the creating thread handles the release: only that
  // thread may destroy its window.
  TSyncInfo* entry = FindSyncInfo(threadSync.FSyncBaseTID);
  if (entry != nullptr && entry->FThreadWindow != nullptr &&
      ::PostMessageW(entry->FThreadWindow, SYNC_RELEASE, 0, reinterpret_cast<LPARAM>(entry)))
    ++entry->pending_releases;
}

void TSyncManager::Synchronize(TThreadSync& threadSync) {
  HWND window = nullptr;
  {
    win32::CriticalSectionLock lock(FThreadLock);
    if (const TSyncInfo* entry = FindSyncInfo(threadSync.FSyncBaseTID)) window = entry->FThreadWindow;
    threadSync.calling_ = window != nullptr;
  }
  if (window == nullptr) return;
  // Never sent under the lock: the creating thread takes it too.
  ::SendMessageW(window, SYNC_CALL, 0, reinterpret_cast<LPARAM>(&threadSync));
  win32::CriticalSectionLock lock(FThreadLock);
  threadSync.calling_ = false;
}

void TSyncManager::DropSyncRef(TSyncInfo* entry) {
  win32::CriticalSectionLock lock(FThreadLock);
  const bool known =
      std::any_of(FList.begin(), FList.end(), [entry](const auto& candidate) { return candidate.get() == entry; });
  if (!known || entry->pending_releases == 0) return;
  --entry->pending_releases;
  if (--entry->FThreadCount == 0) DisposeSyncInfo(entry);
}

void TSyncManager::DisposeSyncInfo(TSyncInfo* entry) {
  if (entry->FThreadWindow == nullptr) return;
  ::DestroyWindow(entry->FThreadWindow);
  FList.erase(
      std::find_if(FList.begin(), FList.end(), [entry](const auto& candidate) { return candidate.get() == entry; }));
}

void TSyncManager::RunCall(TThreadSync* threadSync) {
  {
    win32::CriticalSectionLock lock(FThreadLock);
    // Runs once, for the call that its thread is waiting for.
    if (FSyncs.count(threadSync) == 0 || !std::exchange(threadSync->calling_, false)) return;
  }
  // The caller waits in SendMessageW, so the object outlives this call.
  threadSync->FSyncRaise = nullptr;
  try {
    if (threadSync->FMethod) threadSync->FMethod();
  } catch (...) {
    threadSync->FSyncRaise = std::current_exception();
  }
}

LRESULT CALLBACK TSyncManager::SyncWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Windows of this class exist only while the manager does; the manager is
  // read under the module lock, which its destruction holds.
  if (message == SYNC_RELEASE || message == SYNC_CALL) {
    TSyncManager* manager = nullptr;
    try {
      win32::CriticalSectionLock lock(PipeModuleLock());
      manager = g_manager;
    } catch (...) {
      return 0;
    }
    if (manager == nullptr) return 0;
    if (message == SYNC_RELEASE)
      manager->DropSyncRef(reinterpret_cast<TSyncInfo*>(lParam));
    else
      manager->RunCall(reinterpret_cast<TThreadSync*>(lParam));
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// ----------------------------------------------------------------- TThreadSync

TThreadSync::TThreadSync() : FSyncBaseTID(::GetCurrentThreadId()) { TSyncManager::Instance().AddThread(*this); }

TThreadSync::~TThreadSync() {
  try {
    win32::CriticalSectionLock lock(PipeModuleLock());
    if (g_manager != nullptr) g_manager->RemoveThread(*this);
  } catch (...) {
    // No module any more: nothing is left to release.
  }
}

void TThreadSync::Synchronize(std::function<void()> method) {
  FSyncRaise = nullptr;
  FMethod = std::move(method);
  try {
    TSyncManager::Instance().Synchronize(*this);
  } catch (...) {
    if (FSyncRaise) std::rethrow_exception(std::exchange(FSyncRaise, nullptr));
    throw;
  }
  if (FSyncRaise) std::rethrow_exception(std::exchange(FSyncRaise, nullptr));
}

// ------------------------------------------------------------------- TThreadEx

TThreadEx::TThreadEx() : FSync(std::make_unique<TThreadSync>()) {
  const auto handle = ::_beginthreadex(nullptr, 0, &TThreadEx::ThreadRoutine, this, CREATE_SUSPENDED, &thread_id_);
  if (handle == 0) throw win32::LastPlatformError();
  handle_.Reset(reinterpret_cast<HANDLE>(handle));
}

TThreadEx::~TThreadEx() {
  if (!started_) {
    // Never run: let the thread end without running anything.
    abandoned_.store(true);
    ::ResumeThread(handle_.Get());
    ::WaitForSingleObject(handle_.Get(), INFINITE);
  } else if (!finished_.load() && ::GetCurrentThreadId() != thread_id_) {
    Terminate();
    try {
      Wait();
    } catch (...) {
      win32::KeepDispatchError(std::current_exception());
    }
  }
  FSync.reset();
  handle_.Reset();
}

void TThreadEx::Run() {
  if (started_) return;
  // Set first: a thread that frees itself may be gone as soon as it runs.
  started_ = true;
  if (::ResumeThread(handle_.Get()) == static_cast<DWORD>(-1)) {
    started_ = false;
    throw win32::LastPlatformError();
  }
}

void TThreadEx::Wait() { WaitForThread(handle_.Get(), FSync->SyncBaseTID()); }

bool TThreadEx::WaitForThread(HANDLE threadHandle, DWORD creatingThread, DWORD timeoutMs) {
  // Our own reference to the thread, taken first: an object that frees
  // itself may be gone, with its handle, once messages have been handled.
  HANDLE duplicate = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), threadHandle, ::GetCurrentProcess(), &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
    throw win32::LastPlatformError();
  const win32::UniqueHandle thread(duplicate);

  if (::GetCurrentThreadId() != creatingThread) return ::WaitForSingleObject(thread.Get(), timeoutMs) == WAIT_OBJECT_0;
  QuitKeeper keeper;
  const DWORD start = ::GetTickCount();
  for (;;) {
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      const DWORD elapsed = ::GetTickCount() - start;
      // Checked before waiting: waiting input would end every wait at once.
      if (elapsed >= timeoutMs) return ::WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0;
      wait = timeoutMs - elapsed;
    }
    HANDLE handles[] = {thread.Get()};
    const DWORD result = ::MsgWaitForMultipleObjectsEx(1, handles, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_OBJECT_0 + 1) return result != WAIT_TIMEOUT;
    PumpInto(keeper.quit);
    DWORD exitCode = 0;
    if (!::GetExitCodeThread(thread.Get(), &exitCode) || exitCode != STILL_ACTIVE) return true;
  }
}

void TThreadEx::DoTerminate() {
  if (OnTerminate)
    FSync->Synchronize([this] {
      if (OnTerminate) OnTerminate(*this);
    });
}

unsigned __stdcall TThreadEx::ThreadRoutine(void* parameter) {
  auto* self = static_cast<TThreadEx*>(parameter);
  if (self->abandoned_.load()) return 0;
  try {
    self->Execute();
  } catch (...) {
    self->fatal_exception_ = std::current_exception();
  }
  try {
    self->DoTerminate();
  } catch (...) {
    // An error of the end-of-thread handler has no one left to go to.
  }
  const bool freeSelf = self->free_on_terminate_;
  self->finished_.store(true);
  if (freeSelf) delete self;
  return 0;
}

}  // namespace zyp::pipes
