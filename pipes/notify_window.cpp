#include "pipes/notify_window.h"

#include <memory>

#include "pipes/pipe_module.h"
#include "platform/win32/message_window.h"

namespace zyp::pipes {

namespace {

constexpr wchar_t kNotifyWindowClass[] = L"ObjWndWindow";

// A window's own route to its owner, kept in its user data.
struct Routing {
  TMessageMethod method;
};

LRESULT CALLBACK RoutedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* routing = reinterpret_cast<Routing*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (routing == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  MessageRecord record{message, wParam, lParam, 0};
  try {
    routing->method(record);
  } catch (...) {
    win32::KeepDispatchError(std::current_exception());
    return 0;
  }
  return record.Result;
}

}  // namespace

HWND CreateNotifyWindow(TMessageMethod method) {
  win32::CriticalSectionLock lock(PipeModuleLock());
  // A failed registration shows as a failed creation.
  win32::EnsureWindowClass(kNotifyWindowClass, &::DefWindowProcW);
  HWND window = ::CreateWindowExW(0, kNotifyWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr || !method) return window;
  // Routed before the window is handed out, so before anyone can post to it.
  auto routing = std::make_unique<Routing>(Routing{std::move(method)});
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(routing.release()));
  ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RoutedWindowProc));
  return window;
}

void DestroyNotifyWindow(HWND window) noexcept {
  // Also called from destructors; without a running module there is no lock
  // to take and nothing else can race with this.
  win32::CriticalSection* lock = nullptr;
  try {
    lock = &PipeModuleLock();
    lock->Enter();
  } catch (...) {
    lock = nullptr;
  }
  std::unique_ptr<Routing> routing;
  if (::GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&RoutedWindowProc))
    routing.reset(reinterpret_cast<Routing*>(::GetWindowLongPtrW(window, GWLP_USERDATA)));
  ::DestroyWindow(window);
  if (lock != nullptr) lock->Leave();
}

}  // namespace zyp::pipes
