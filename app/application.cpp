#include "app/application.h"

#include "platform/error.h"
#include "platform/win32/wide_text.h"

namespace zyp::app {

namespace {

constexpr wchar_t kWindowClass[] = L"TApplication";

// The executable's name without folder and extension, every character after
// the first lowered.
std::u16string TitleFromModule() {
  wchar_t path[MAX_PATH + 1] = {};
  // The program's own file: a longer path is cut, and the title with it.
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  name = name.substr(name.find_last_of(L"\\:") + 1);
  if (const auto dot = name.find_last_of(L'.'); dot != std::wstring::npos) name.resize(dot);
  if (name.size() > 1) ::CharLowerW(name.data() + 1);
  return win32::FromWide(name);
}

// The message of the innermost error of a chain of wrapped ones.
std::u16string InnermostMessage(std::exception_ptr error, bool& silent) {
  try {
    std::rethrow_exception(error);
  } catch (const std::nested_exception& outer) {
    if (outer.nested_ptr()) return InnermostMessage(outer.nested_ptr(), silent);
    throw;
  } catch (const AbortError&) {
    silent = true;
  } catch (const Error& e) {
    return e.Message();
  } catch (const std::exception& e) {
    const std::string what = e.what();
    return std::u16string(what.begin(), what.end());
  } catch (...) {
  }
  return {};
}

}  // namespace

Application::Application() : icon_(::LoadIconW(::GetModuleHandleW(nullptr), L"MAINICON")), title_(TitleFromModule()) {
  try {
    Create(kWindowClass, WS_EX_TOOLWINDOW, WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
           win32::Wide(title_), 0, 0, 0, 0, nullptr, icon_);
  } catch (const PlatformError&) {
    // It only owns the programs started and the error boxes, which do
    // without an owner; the main window's creation reports what failed.
  }
}

Application::~Application() {
  // The window goes before OLE is undone.
  Destroy();
}

LRESULT Application::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (watcher_ != nullptr && watcher_->ApplicationMessage(message, wParam, lParam)) return 0;
  return MessageWindow::HandleMessage(message, wParam, lParam);
}

void Application::Run() {
  MSG msg{};
  while (!terminated_) {
    const bool taken = ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
    // Messages that other threads send, such as the pipe worker's notices,
    // are handled inside PeekMessageW: an error one of them raised is
    // reported here, before a quit message taken by the same call ends the
    // loop.
    if (auto error = win32::TakeDispatchError()) ReportError(error);
    if (!taken) {
      // Fails only for a thread without a message queue, and this one has.
      if (!terminated_) ::WaitMessage();
      continue;
    }
    if (msg.message == WM_QUIT) return;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    if (auto error = win32::TakeDispatchError()) ReportError(error);
  }
}

bool Application::ReportError(std::exception_ptr error) {
  bool silent = false;
  const std::u16string text = ErrorReportText(InnermostMessage(error, silent));
  if (silent) return false;
  if (onReport) onReport(text);
  HWND owner = ::GetActiveWindow();
  if (owner == nullptr) owner = Handle();
  // On top and in front: behind the browser, nobody would see the box the
  // run waits for. Its one button gives no answer worth reading, and a box
  // that cannot show leaves the exit code to say what happened.
  showMessageBox(owner, win32::Wide(text), win32::Wide(title_), MB_ICONERROR | MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
  return true;
}

}  // namespace zyp::app
