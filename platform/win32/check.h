#pragma once
// Turns a failed Win32 call into the program's PlatformError, naming the call
// that failed, so that logic code states a call and its failure test on one
// line and never carries the last-error protocol any further.
#include <windows.h>

#include "platform/win32/wide_text.h"

namespace zyp::win32 {

// The last error of the calling thread, as raised for `call`.
[[noreturn]] void ThrowLastError(const char* call, DWORD code = ::GetLastError());

// For calls that report failure through the last error: BOOL, a null handle.
inline void ThrowLastErrorIf(bool failed, const char* call) {
  if (failed) ThrowLastError(call);
}
inline void ThrowIfWin32BoolFalse(BOOL result, const char* call) { ThrowLastErrorIf(result == FALSE, call); }

// For calls that return their error code (the registry, some shell calls).
inline void ThrowIfWin32Error(LONG status, const char* call) {
  if (status != ERROR_SUCCESS) ThrowLastError(call, static_cast<DWORD>(status));
}

}  // namespace zyp::win32
