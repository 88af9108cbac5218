#include "platform/win32/check.h"

namespace zyp::win32 {

void ThrowLastError(const char* call, DWORD code) { throw PlatformError(code, SystemMessage(code), call); }

}  // namespace zyp::win32
