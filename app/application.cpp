#include "app/application.h"

#include "platform/error.h"
#include "platform/win32/wide_text.h"

namespace zyp::app {

namespace {

// The executable's name without folder and extension, every character after
// the first lowered.
std::u16string TitleFromModule() {
  wchar_t path[MAX_PATH + 1] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  name = name.substr(name.find_last_of(L"\\/:") + 1);
  if (const auto dot = name.find_last_of(L'.'); dot != std::wstring::npos) name.resize(dot);
  if (name.size() > 1) ::CharLowerW(name.data() + 1);
  return win32::FromWide(name);
}

}  // namespace

Application::Application() : title_(TitleFromModule()) {
  Create(L"TApplication", WS_EX_TOOLWINDOW, WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
         win32::Wide(title_), 0, 0, 0, 0);
}

int Application::Run() {
  MSG msg{};
  for (;;) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    if (auto error = win32::TakeDispatchError()) ReportError(error);
  }
  return static_cast<int>(msg.wParam);
}

void Application::ReportError(std::exception_ptr error) {
  std::u16string text;
  try {
    std::rethrow_exception(error);
  } catch (const AbortError&) {
    return;
  } catch (const Error& e) {
    text = e.Message();
  } catch (const std::exception& e) {
    const std::string what = e.what();
    text.assign(what.begin(), what.end());
  }
  if (!text.empty() && text.back() > u'.') text.push_back(u'.');
  HWND owner = ::GetActiveWindow();
  if (owner == nullptr) owner = Handle();
  ::MessageBoxW(owner, win32::Wide(text), win32::Wide(title_), MB_ICONERROR | MB_OK);
}

}  // namespace zyp::app
