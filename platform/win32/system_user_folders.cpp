#include "platform/win32/system_user_folders.h"

#include <windows.h>
// After windows.h, which they build on.
#include <knownfolders.h>
#include <shlobj.h>

#include <cwchar>

#include "platform/win32/check.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace zyp::win32 {

std::u16string SystemUserFolders::LocalAppData() {
  PWSTR path = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path);
  // The caller frees the block whether the call succeeded or not.
  const UniqueCoTaskMemory owner(path);
  if (FAILED(result)) {
    // A Win32 error wrapped in an HRESULT reads best as its own code.
    const DWORD code = HRESULT_FACILITY(result) == FACILITY_WIN32 ? static_cast<DWORD>(HRESULT_CODE(result))
                                                                  : static_cast<DWORD>(result);
    ThrowLastError("SHGetKnownFolderPath", code);
  }
  return FromWide(path, std::wcslen(path));
}

}  // namespace zyp::win32
