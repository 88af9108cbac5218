#include "cookies/cookie_store.h"

#include <cstdint>
#include <memory>

#include "platform/error.h"

namespace zyp::cookies {
namespace {

// The longest path the program ever opens: MAX_PATH less the terminating zero.
constexpr std::size_t kMaxPathLength = 259;

// What GetTempPathW is given room for.
constexpr std::uint32_t kTempPathCapacity = 1023;

}  // namespace

std::u16string GetAppTempFolder(platform::Files& files) {
  std::u16string temp;
  try {
    temp = files.TempPath(kTempPathCapacity);
  } catch (const PlatformError&) {
    // Without a temporary directory "ZYP\" would be a relative path, and
    // cookie files would land in whatever folder the program was started from.
    return {};
  }
  std::u16string folder = temp + u"ZYP\\";
  try {
    // Whether it worked is not needed: the cookie folder is created again
    // before each write.
    CreateFolderPath(files, folder);
  } catch (...) {
  }
  return folder;
}

CookieStore::CookieStore(platform::Files& files, platform::Locale& locale) : files_(files), locale_(locale) {
  const std::u16string appFolder = GetAppTempFolder(files_);
  if (appFolder.empty()) return;
  cookieFolder_ = appFolder + u"cookies";
  // A folder that cannot be created is not reported at start-up: it is
  // created again before each write.
  CreateFolderPath(files_, cookieFolder_);
}

CookieStore::~CookieStore() = default;

std::u16string CookieStore::GetCookieFileName(const std::u16string& address) const {
  const std::u16string name = MakeSafeFileName(GetCookieDomain(address));
  if (name.empty() || cookieFolder_.empty()) return {};
  std::u16string fileName = name + u".dat";
  // "CON.dat" or "nul.example.dat" would open a device, not a file in the folder.
  if (IsReservedDeviceName(fileName)) return {};
  return cookieFolder_ + u"\\" + fileName;
}

bool CookieStore::Storable(const std::u16string& path) {
  // A site whose file name holds "=" (a query right after the host) gets no
  // file; one already there stays as it is.
  return path.find(u'=') == std::u16string::npos && path.size() <= kMaxPathLength;
}

void CookieStore::WriteCookieFile(const std::u16string& address, const std::u16string& cookieList) {
  try {
    const std::lock_guard<std::mutex> lock(cookieLock_);
    const std::u16string path = GetCookieFileName(address);
    if (path.empty()) return;
    if (cookieList.empty()) {
      // Only a file that could have been written is ever deleted.
      if (!Storable(path)) return;
      // A missing file, a file in use and a refused deletion are all fine:
      // the catch below takes them.
      files_.Remove(path);
      return;
    }
    WriteLine(path, cookieList);
  } catch (...) {
    // Storing cookies never stops a request.
  }
}

void CookieStore::WriteLine(const std::u16string& path, const std::u16string& cookieList) {
  // A folder that cannot be created makes the file's creation fail, which
  // ends the write.
  CreateFolderPath(files_, path.substr(0, path.rfind(u'\\') + 1));
  if (!Storable(path)) return;
  // The file is emptied before the line is computed: a reader that opens it
  // meanwhile finds it empty rather than holding the old line.
  const std::unique_ptr<platform::WritableFile> file = files_.CreateForWriting(path);
  std::string bytes = locale_.ToCodePage(locale_.AnsiCodePage(), MergeCookieList(cookieList, locale_));
  bytes += "\r\n";
  file->Write(bytes.data(), bytes.size());
}

}  // namespace zyp::cookies
