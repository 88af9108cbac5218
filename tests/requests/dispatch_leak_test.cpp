// Many requests in one process, through the real files, locale and registry
// (only the desktop and the pipe are stand-ins): handle count and private
// memory stay flat.
#include <windows.h>

#include <gtest/gtest.h>
#include <psapi.h>

#include <string>

#include "cookies/cookie_store.h"
#include "intake/dispatch.h"
#include "platform/win32/system_files.h"
#include "platform/win32/system_locale.h"
#include "platform/win32/system_registry.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/fakes/fake_queue_pipe.h"
#include "tests/support/scratch_files.h"
#include "tests/support/settings_key_snapshot.h"

namespace zyp {
namespace {

// Takes away the cookie file that the requests leave in the shared prefix,
// and the folders made for it, also when the test stops early.
class CookieLeftovers {
 public:
  ~CookieLeftovers() {
    if (cookieFolder_.empty()) return;
    ::DeleteFileW((cookieFolder_ + L"\\example.com.dat").c_str());
    // Only empty folders go: others' files stay.
    for (std::wstring folder = cookieFolder_; folder.size() > folderRoot_.size();
         folder.resize(folder.find_last_of(L'\\')))
      if (!::RemoveDirectoryW(folder.c_str())) break;
  }
  void CookiesIn(const std::u16string& folder, const std::wstring& root) {
    cookieFolder_.assign(folder.begin(), folder.end());
    folderRoot_ = root;
  }

 private:
  std::wstring cookieFolder_;
  std::wstring folderRoot_;
};

struct Usage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
};

Usage CurrentUsage() {
  Usage usage;
  ::GetProcessHandleCount(::GetCurrentProcess(), &usage.handles);
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
  // The commit charge: the same figure as PrivateUsage on Windows, and the
  // one of the two that Wine fills in.
  usage.privateBytes = counters.PagefileUsage;
  return usage;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

TEST(DispatchLeaks, ThousandRequestsLeaveHandlesAndMemoryFlat) {
  // The settings key (and the agent the requests store in it) is put back.
  const testing::SettingsKeySnapshot settings;
  testing::SettingsKeySnapshot::CreateKey();
  CookieLeftovers leftovers;

  win32::SystemFiles files;
  win32::SystemLocale locale;
  win32::SystemRegistry registry;
  fakes::FakeQueuePipe pipe;
  cookies::CookieStore cookies(files, locale);
  leftovers.CookiesIn(cookies.CookieFolder(), testing::TempFolder());
  const std::wstring parameterFile = testing::TempFolder() + L"zyp-leak-request.txt";
  const std::string request =
      "ZYP Parameter File\r\nhttp://www.leak-test.example.com/file.zip\r\n"
      "cookielist=session=abc; theme=dark; SESSION=def\r\ncookies=LT\r\nagent=Leak/1.0\r\n"
      "pagetitle=A title\r\nloadfromregistry\r\n";

  auto runRequests = [&](int count) {
    for (int i = 0; i < count; ++i) {
      WriteFileBytes(parameterFile, request);
      fakes::FakeDesktop desktop;
      desktop.windows[u"TfrmZYPQueueManager"] = 0x777;
      desktop.commandLine = u"prog \"" + std::u16string(parameterFile.begin(), parameterFile.end()) + u"\"";
      intake::Trace trace;
      intake::Services services{desktop, desktop, desktop, files, locale, registry, cookies, pipe, trace};
      ASSERT_EQ(intake::Dispatch(services), intake::Delivery::Queued);
      pipe.writes.clear();
      pipe.connects.clear();
    }
  };

  runRequests(50);  // warm-up: first-use allocations of the system libraries
  const Usage before = CurrentUsage();
  runRequests(1000);
  const Usage after = CurrentUsage();

  ASSERT_GT(before.privateBytes, 0u);
  EXPECT_LE(after.handles, before.handles + 2) << before.handles << " -> " << after.handles;
  EXPECT_LT(after.privateBytes, before.privateBytes + 512 * 1024)
      << before.privateBytes << " -> " << after.privateBytes;
  EXPECT_EQ(::GetFileAttributesW(parameterFile.c_str()), INVALID_FILE_ATTRIBUTES);  // deleted after use
}

}  // namespace
}  // namespace zyp
