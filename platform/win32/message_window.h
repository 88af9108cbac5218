#pragma once
// A hidden window whose messages go to a C++ object, which owns the window:
// destroying the object destroys it. The object is linked to its window
// through the creation data and unlinked when the window goes, so no message
// ever reaches an object that no longer exists.
#include <windows.h>

#include <exception>

namespace zyp::win32 {

// Errors cannot travel through the system's dispatch code: a window
// procedure that catches one keeps it here, and the code that dispatched the
// message (a message loop, a pump) takes it and raises it on its own side.
void KeepDispatchError(std::exception_ptr error) noexcept;
std::exception_ptr TakeDispatchError() noexcept;
// Raises a kept error, if any.
void RethrowDispatchError();

class MessageWindow {
 public:
  MessageWindow() = default;
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  virtual ~MessageWindow();

  HWND Handle() const { return hwnd_; }

 protected:
  // Registers the class when needed and creates the window. Throws
  // PlatformError naming RegisterClassW or CreateWindowExW.
  void Create(const wchar_t* className, DWORD exStyle, DWORD style, const wchar_t* title, int x, int y, int width,
              int height, HWND parent = nullptr, HICON classIcon = nullptr);
  void Destroy();

  // Runs on the window's thread; the default hands the message to
  // DefWindowProcW. An exception that leaves it is kept for the dispatcher.
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
};

}  // namespace zyp::win32
