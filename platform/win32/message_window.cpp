#include "platform/win32/message_window.h"

#include <memory>
#include <new>
#include <utility>

#include "platform/win32/check.h"

namespace zyp::win32 {

namespace {
// A plain pointer, not an exception_ptr: MinGW releases a thread's emulated
// thread-local storage before it runs the destructors of its thread_local
// objects, so a thread_local with a destructor writes into freed memory when
// a thread other than the main one ends.
thread_local std::exception_ptr* t_dispatch_error = nullptr;
}  // namespace

void KeepDispatchError(std::exception_ptr error) noexcept {
  // The first error wins: it is the one that stopped the action.
  if (t_dispatch_error == nullptr) t_dispatch_error = new (std::nothrow) std::exception_ptr(std::move(error));
}

std::exception_ptr TakeDispatchError() noexcept {
  const std::unique_ptr<std::exception_ptr> kept(std::exchange(t_dispatch_error, nullptr));
  return kept ? std::move(*kept) : nullptr;
}

void RethrowDispatchError() {
  if (auto error = TakeDispatchError()) std::rethrow_exception(error);
}

namespace {

// Makes sure the class is registered for this module with the given
// procedure; a class of that name registered with another procedure is
// replaced. False when registration failed.
bool EnsureWindowClass(const wchar_t* className, WNDPROC procedure, HICON icon) {
  const HINSTANCE module = ::GetModuleHandleW(nullptr);
  WNDCLASSW existing{};
  if (::GetClassInfoW(module, className, &existing)) {
    if (existing.lpfnWndProc == procedure) return true;
    // A class that still has windows stays; registering then fails and says so.
    ::UnregisterClassW(className, module);
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = procedure;
  wc.hInstance = module;
  wc.hIcon = icon;
  wc.lpszClassName = className;
  return ::RegisterClassW(&wc) != 0;
}

}  // namespace

MessageWindow::~MessageWindow() { Destroy(); }

void MessageWindow::Create(const wchar_t* className, DWORD exStyle, DWORD style, const wchar_t* title, int x, int y,
                           int width, int height, HWND parent, HICON classIcon) {
  ThrowLastErrorIf(!EnsureWindowClass(className, &MessageWindow::Procedure, classIcon), "RegisterClassW");
  // The window links itself to this object while it is being created.
  ThrowLastErrorIf(::CreateWindowExW(exStyle, className, title, style, x, y, width, height, parent, nullptr,
                                     ::GetModuleHandleW(nullptr), this) == nullptr,
                   "CreateWindowExW");
}

void MessageWindow::Destroy() {
  // The window's last message unlinks it, whoever destroys it.
  if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
}

LRESULT MessageWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK MessageWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<MessageWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // Unlink first: the object may be going away right after this.
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
  try {
    return self->HandleMessage(message, wParam, lParam);
  } catch (...) {
    KeepDispatchError(std::current_exception());
    return 0;
  }
}

}  // namespace zyp::win32
