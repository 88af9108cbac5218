// Threads shared between an owner and themselves, hearing of their end on
// the owner's thread, waiting for them while handling messages, the message
// pump and notify windows, against the real system.
#include "pipes/thread_sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "pipes/notify_window.h"
#include "pipes/pipe_module.h"
#include "pipes/thread_ex.h"

namespace zyp::pipes {
namespace {

class TestThread final : public ThreadEx {
 public:
  explicit TestThread(std::function<void()> body = nullptr) : body_(std::move(body)) {}
  ~TestThread() override { destroyed_on = ::GetCurrentThreadId(); }

  static inline std::atomic<DWORD> destroyed_on{0};

 protected:
  void Execute() override {
    if (body_) body_();
  }

 private:
  std::function<void()> body_;
};

class ThreadSyncTest : public ::testing::Test {
 protected:
  PipeModule module_;
  const DWORD self_ = ::GetCurrentThreadId();
};

constexpr UINT kEnded = WM_APP + 7;

TEST_F(ThreadSyncTest, AThreadsEndAndItsErrorReachTheOwnerOnTheOwnersThread) {
  std::shared_ptr<TestThread> thread;
  std::vector<DWORD> heardOn;
  bool endedWhenHeard = false;
  NotifyWindow owner([&](MessageRecord& message) {
    if (message.message != kEnded) return;
    heardOn.push_back(::GetCurrentThreadId());
    endedWhenHeard = thread->Ended();
  });
  thread = std::make_shared<TestThread>([] { throw std::runtime_error("from the worker"); });
  thread->Run(THREAD_PRIORITY_NORMAL, {owner.Handle(), kEnded});
  ASSERT_TRUE(WaitForThread(thread->Handle(), 5000));
  // The post was the thread's last act: it is in the queue now.
  PumpMessages();
  EXPECT_EQ(heardOn, std::vector<DWORD>{self_});
  EXPECT_TRUE(endedWhenHeard);
  const std::exception_ptr error = thread->TakeFatalException();
  ASSERT_TRUE(error != nullptr) << "the worker's exception was lost";
  EXPECT_THROW(std::rethrow_exception(error), std::runtime_error);
  EXPECT_TRUE(thread->TakeFatalException() == nullptr) << "taken twice";
}

TEST_F(ThreadSyncTest, AThreadLetGoByItsOwnerEndsOnLiveMemory) {
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE ended = nullptr;
  TestThread::destroyed_on.store(0);
  {
    auto thread = std::make_shared<TestThread>([release] { ::WaitForSingleObject(release, INFINITE); });
    thread->Run();
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), thread->Handle(), ::GetCurrentProcess(), &ended, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS));
  }
  // The owner has let go; the thread holds the object until it ends.
  EXPECT_EQ(TestThread::destroyed_on.load(), 0u);
  ::SetEvent(release);
  ASSERT_EQ(::WaitForSingleObject(ended, 5000), WAIT_OBJECT_0);
  EXPECT_NE(TestThread::destroyed_on.load(), 0u);
  EXPECT_NE(TestThread::destroyed_on.load(), self_);
  ::CloseHandle(ended);
  ::CloseHandle(release);
}

TEST_F(ThreadSyncTest, WaitingForAThreadHandlesTheOwnersMessagesAndReturnsAtOnceWhenItHasEnded) {
  // The thread can end only once this thread has handled its sent message.
  bool handled = false;
  NotifyWindow owner([&](MessageRecord& message) {
    if (message.message == WM_APP) handled = true;
  });
  const HWND window = owner.Handle();
  auto thread = std::make_shared<TestThread>([window] { ::SendMessageW(window, WM_APP, 0, 0); });
  thread->Run();
  EXPECT_TRUE(WaitForThread(thread->Handle(), 5000));
  EXPECT_TRUE(handled);

  const DWORD start = ::GetTickCount();
  EXPECT_TRUE(WaitForThread(thread->Handle()));
  EXPECT_LT(::GetTickCount() - start, 50u);
}

TEST_F(ThreadSyncTest, PumpDispatchesRaisesKeptErrorsAndLeavesQuitForTheLoop) {
  const DWORD start = ::GetTickCount();
  PumpMessages();
  EXPECT_LT(::GetTickCount() - start, 20u);

  int seen = 0;
  NotifyWindow window([&](MessageRecord& message) {
    if (message.message == WM_APP) ++seen;
    if (message.message == WM_APP + 1) throw std::runtime_error("from the handler");
  });
  ::PostMessageW(window.Handle(), WM_APP, 0, 0);
  ::PostQuitMessage(7);
  PumpMessages();
  EXPECT_EQ(seen, 1);
  MSG msg;
  ASSERT_TRUE(::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);

  ::PostMessageW(window.Handle(), WM_APP + 1, 0, 0);
  EXPECT_THROW(PumpMessages(), std::runtime_error);
}

TEST_F(ThreadSyncTest, NotifyWindowsRouteEachToItsOwnMethod) {
  std::vector<UINT> firstSaw;
  auto first = std::make_unique<NotifyWindow>([&](MessageRecord& message) {
    if (message.message >= WM_APP) {
      firstSaw.push_back(message.message);
      message.result = 41 + static_cast<LRESULT>(message.l_param);
    }
  });
  NotifyWindow second([](MessageRecord& message) {
    if (message.message >= WM_APP) message.result = 99;
  });
  NotifyWindow plain;
  const HWND firstWindow = first->Handle();
  ASSERT_NE(firstWindow, nullptr);
  wchar_t className[64] = {};
  ::GetClassNameW(firstWindow, className, 64);
  EXPECT_STREQ(className, L"ObjWndWindow");
  EXPECT_FALSE(::IsWindowVisible(firstWindow));

  EXPECT_EQ(::SendMessageW(firstWindow, WM_APP, 0, 1), 42);
  EXPECT_EQ(::SendMessageW(second.Handle(), WM_APP, 0, 1), 99);
  EXPECT_EQ(::SendMessageW(plain.Handle(), WM_APP, 0, 1), 0);
  EXPECT_EQ(firstSaw, std::vector<UINT>{WM_APP});

  first.reset();
  EXPECT_FALSE(::IsWindow(firstWindow));
  EXPECT_EQ(firstSaw, std::vector<UINT>{WM_APP}) << "a message of the window's destruction reached its owner";
}

}  // namespace
}  // namespace zyp::pipes
