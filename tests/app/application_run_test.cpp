// The message loop ends when the program is done, whatever other programs
// keep posting to its windows.
#include <gtest/gtest.h>

#include "app/application.h"
#include "platform/win32/message_window.h"

namespace zyp::app {
namespace {

// Each message it handles posts the next: a queue that never empties, as
// under a program that posts without pause. Told to stop after a bound, so
// that a loop which does not end when told still comes back.
class EndlessPoster final : public win32::MessageWindow {
 public:
  EndlessPoster(Application& application, int endAt) : application_(application), end_at_(endAt) {
    Create(L"ZypEndlessPosterTest", 0, WS_POPUP, L"", 0, 0, 0, 0);
  }
  int Handled() const { return handled_; }

 private:
  static constexpr int kBound = 20000;

  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message != WM_APP) return MessageWindow::HandleMessage(message, wParam, lParam);
    if (++handled_ == end_at_) application_.Terminate();
    if (handled_ < kBound) ::PostMessageW(Handle(), WM_APP, 0, 0);
    return 0;
  }

  Application& application_;
  const int end_at_;
  int handled_ = 0;
};

TEST(ApplicationRun, EndsWhenToldWhileAnotherProgramKeepsItsQueueFull) {
  Application application;
  EndlessPoster poster(application, 10);
  ASSERT_TRUE(::PostMessageW(poster.Handle(), WM_APP, 0, 0));
  application.Run();
  EXPECT_EQ(poster.Handled(), 10) << "the loop went on taking messages after it was told to end";
  // No quit message is left to close the next error box at once.
  MSG msg;
  EXPECT_FALSE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

}  // namespace
}  // namespace zyp::app
