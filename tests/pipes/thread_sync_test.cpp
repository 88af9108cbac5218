// Calls carried to a creating thread, waiting for a thread while handling
// messages, the message pump and notify windows, against the real system.
#include "pipes/thread_sync.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "pipes/notify_window.h"
#include "pipes/pipe_module.h"
#include "tests/support/wait.h"

namespace zyp::pipes {
namespace {

class TestThread : public TThreadEx {
 public:
  std::function<void()> body;

 protected:
  void Execute() override {
    if (body) body();
  }
};

class ThreadSyncTest : public ::testing::Test {
 protected:
  std::optional<PipeModule> module_{std::in_place};
  const DWORD self_ = ::GetCurrentThreadId();
};

TEST_F(ThreadSyncTest, WorkersOfOneThreadShareOneSyncWindow) {
  auto first = std::make_unique<TestThread>();
  auto second = std::make_unique<TestThread>();
  const TSyncInfo shared = TSyncManager::Instance().Lookup(self_);
  EXPECT_EQ(shared.FThreadCount, 2);
  ASSERT_TRUE(::IsWindow(shared.FThreadWindow));
  wchar_t className[64] = {};
  ::GetClassNameW(shared.FThreadWindow, className, 64);
  EXPECT_STREQ(className, L"ThreadSyncWindow");

  first->Run();
  first->Wait();
  first.reset();
  PumpMessages();
  EXPECT_EQ(TSyncManager::Instance().Lookup(self_).FThreadCount, 1);
  EXPECT_TRUE(::IsWindow(shared.FThreadWindow));

  // Destroyed without ever running: the release still comes.
  second.reset();
  PumpMessages();
  const TSyncInfo gone = TSyncManager::Instance().Lookup(self_);
  EXPECT_EQ(gone.FThreadCount, 0);
  EXPECT_EQ(gone.FThreadWindow, nullptr);
  EXPECT_FALSE(::IsWindow(shared.FThreadWindow));

  // A later object of the same thread makes a new window.
  TestThread third;
  EXPECT_TRUE(::IsWindow(TSyncManager::Instance().Lookup(self_).FThreadWindow));
}

TEST_F(ThreadSyncTest, OnTerminateRunsInsideWaitOnTheCreatingThread) {
  // The thread frees itself; Wait must not touch it afterwards.
  auto* thread = new TestThread();
  thread->SetFreeOnTerminate(true);
  thread->body = [] { ::Sleep(100); };
  DWORD handlerThread = 0;
  bool handled = false;
  thread->OnTerminate = [&](TThreadEx&) {
    handlerThread = ::GetCurrentThreadId();
    handled = true;
  };
  thread->Run();
  EXPECT_FALSE(handled);
  thread->Wait();
  EXPECT_TRUE(handled);
  EXPECT_EQ(handlerThread, self_);
}

TEST_F(ThreadSyncTest, WaitOnAnEndedThreadReturnsAtOnce) {
  TestThread thread;
  thread.Run();
  ASSERT_EQ(::WaitForSingleObject(thread.Handle(), 5000), WAIT_OBJECT_0);
  const DWORD start = ::GetTickCount();
  thread.Wait();
  EXPECT_LT(::GetTickCount() - start, 50u);
}

TEST_F(ThreadSyncTest, WaitOnAnotherThreadHandlesNoMessages) {
  TestThread thread;
  bool handled = false;
  thread.OnTerminate = [&](TThreadEx&) { handled = true; };
  thread.Run();
  std::atomic<bool> waited{false};
  std::thread other([&] {
    thread.Wait();
    waited = true;
  });
  // The ending thread waits for this thread to run its handler.
  ASSERT_TRUE(zyp::testing::WaitUntil(zyp::testing::SentMessageWaiting, std::chrono::seconds(10)));
  EXPECT_FALSE(waited.load());
  EXPECT_FALSE(handled);
  EXPECT_TRUE(zyp::testing::PumpUntil([&] { return waited.load(); }, std::chrono::seconds(10), PumpMessages));
  other.join();
  EXPECT_TRUE(handled);
}

struct Marked : std::runtime_error {
  using std::runtime_error::runtime_error;
};

TEST_F(ThreadSyncTest, ACarriedCallRunsOnTheCreatingThreadAndRaisesAtTheCaller) {
  TThreadSync sync;
  DWORD ranOn = 0;
  const void* raised = nullptr;
  const void* caught = nullptr;
  std::atomic<bool> done{false};
  std::thread caller([&] {
    sync.Synchronize([&] { ranOn = ::GetCurrentThreadId(); });
    try {
      sync.Synchronize([&] {
        try {
          throw Marked("carried");
        } catch (const Marked& error) {
          raised = &error;
          throw;
        }
      });
    } catch (const Marked& error) {
      caught = &error;
    }
    done = true;
  });
  // The error stays with the caller: nothing reaches this pump.
  EXPECT_TRUE(zyp::testing::PumpUntil([&] { return done.load(); }, std::chrono::seconds(10), PumpMessages));
  caller.join();
  EXPECT_EQ(ranOn, self_);
  ASSERT_NE(caught, nullptr);
  EXPECT_EQ(caught, raised);
}

TEST_F(ThreadSyncTest, ModuleShutDownDisposesOfWindowsStillThere) {
  HWND window = nullptr;
  {
    TThreadSync sync;
    window = TSyncManager::Instance().Lookup(self_).FThreadWindow;
  }
  // The release was posted but never handled.
  EXPECT_TRUE(::IsWindow(window));
  module_.reset();
  EXPECT_FALSE(::IsWindow(window));
}

TEST_F(ThreadSyncTest, PumpDispatchesRaisesKeptErrorsAndLeavesQuitForTheLoop) {
  const DWORD start = ::GetTickCount();
  PumpMessages();
  EXPECT_LT(::GetTickCount() - start, 20u);

  int seen = 0;
  UniqueNotifyWindow window(CreateNotifyWindow([&](MessageRecord& message) {
    if (message.Msg == WM_APP) ++seen;
    if (message.Msg == WM_APP + 1) throw std::runtime_error("from the handler");
  }));
  ::PostMessageW(window.Get(), WM_APP, 0, 0);
  ::PostQuitMessage(7);
  PumpMessages();
  EXPECT_EQ(seen, 1);
  MSG msg;
  ASSERT_TRUE(::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);

  ::PostMessageW(window.Get(), WM_APP + 1, 0, 0);
  EXPECT_THROW(PumpMessages(), std::runtime_error);
}

TEST_F(ThreadSyncTest, NotifyWindowsRouteEachToItsOwnMethod) {
  auto owner = std::make_shared<int>(0);
  std::vector<UINT> firstSaw;
  HWND first = CreateNotifyWindow([&, owner](MessageRecord& message) {
    if (message.Msg >= WM_APP) {
      firstSaw.push_back(message.Msg);
      message.Result = 41 + static_cast<LRESULT>(message.LParam);
    }
  });
  UniqueNotifyWindow second(CreateNotifyWindow([](MessageRecord& message) {
    if (message.Msg >= WM_APP) message.Result = 99;
  }));
  UniqueNotifyWindow plain(CreateNotifyWindow());
  ASSERT_NE(first, nullptr);
  wchar_t className[64] = {};
  ::GetClassNameW(first, className, 64);
  EXPECT_STREQ(className, L"ObjWndWindow");
  EXPECT_FALSE(::IsWindowVisible(first));

  EXPECT_EQ(::SendMessageW(first, WM_APP, 0, 1), 42);
  EXPECT_EQ(::SendMessageW(second.Get(), WM_APP, 0, 1), 99);
  EXPECT_EQ(::SendMessageW(plain.Get(), WM_APP, 0, 1), 0);
  EXPECT_EQ(firstSaw, std::vector<UINT>{WM_APP});

  EXPECT_EQ(owner.use_count(), 2);
  DestroyNotifyWindow(first);
  EXPECT_FALSE(::IsWindow(first));
  EXPECT_EQ(owner.use_count(), 1);
}

}  // namespace
}  // namespace zyp::pipes
