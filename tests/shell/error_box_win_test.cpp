// The error box as the program asks the system for it: Wine draws it without
// the topmost style, so the request itself is what is checked here.
#include <gtest/gtest.h>

#include "app/application.h"
#include "platform/error.h"

namespace zyp::app {
namespace {

TEST(ErrorBox, KeepsOwnerCaptionAndTextAndComesToTheFrontOnTop) {
  Application application;
  ASSERT_NE(application.Handle(), nullptr) << "no application window";
  struct Shown {
    HWND owner;
    std::wstring text, caption;
    UINT type;
  };
  std::vector<Shown> shown;
  application.showMessageBox = [&](HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    shown.push_back({owner, text, caption, type});
    return IDOK;
  };
  EXPECT_TRUE(application.ReportError(std::make_exception_ptr(PlatformError(32, u"The file is in use"))));
  EXPECT_FALSE(application.ReportError(std::make_exception_ptr(AbortError())));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].owner, application.Handle()) << "no active window: the application window owns it";
  EXPECT_EQ(shown[0].text, L"The file is in use.");
  EXPECT_EQ(shown[0].caption, std::wstring(application.Title().begin(), application.Title().end()));
  EXPECT_EQ(shown[0].type, static_cast<UINT>(MB_ICONERROR | MB_OK | MB_TOPMOST | MB_SETFOREGROUND));
}

}  // namespace
}  // namespace zyp::app
