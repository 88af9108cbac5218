#pragma once
// Files that hold one request for another program of the same user: made new
// in the user's temporary folder, where nobody else may read them, and named
// so that their maker finds those it left behind and nothing else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zyp::platform {

// The random part of a private file's name: 32 lowercase hexadecimal digits
// (128 bits), between the maker's prefix and kPrivateFileExtension.
inline constexpr std::size_t kPrivateFileRandomDigits = 32;
inline constexpr std::u16string_view kPrivateFileExtension = u".txt";

// Whether name (without a folder) is one CreateTempFile makes with prefix:
// exactly so, letter case included.
constexpr bool IsPrivateFileName(std::u16string_view name, std::u16string_view prefix) {
  if (name.size() != prefix.size() + kPrivateFileRandomDigits + kPrivateFileExtension.size()) return false;
  if (!name.starts_with(prefix) || !name.ends_with(kPrivateFileExtension)) return false;
  const std::u16string_view random = name.substr(prefix.size(), kPrivateFileRandomDigits);
  return std::all_of(random.begin(), random.end(),
                     [](char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); });
}

class PrivateFiles {
 public:
  virtual ~PrivateFiles() = default;
  // A new file (CREATE_NEW) named prefix, random part and extension (see
  // above) in the folder GetTempPathW names, whose access list grants the
  // current user alone, holding the bytes; returns its full path. Throws
  // PlatformError naming the failed call.
  virtual std::u16string CreateTempFile(std::u16string_view prefix, std::string_view bytes) = 0;
  // DeleteFileW; a file that is gone already is no failure.
  virtual void RemoveIfPresent(const std::u16string& path) = 0;
  // Deletes the files of the folder GetTempPathW names whose names
  // IsPrivateFileName finds made with prefix and whose last write is more
  // than ageMs before now, looking at no more than maxNames such names.
  // Each is opened without following a link, and deleted through that
  // handle only when it is a regular file with one name: never a folder, a
  // link or another reparse point. A file that another program holds, or
  // that cannot be opened or deleted, is left. Returns how many went. Throws
  // PlatformError only when the folder cannot be named or listed.
  virtual std::size_t RemoveStaleTempFiles(std::u16string_view prefix, std::uint64_t ageMs, std::size_t maxNames) = 0;
};

}  // namespace zyp::platform
