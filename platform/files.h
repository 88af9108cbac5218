#pragma once
// Files and folders as the cookie store and the argument list use them.
// Every operation that fails throws PlatformError, whose Code() is the
// system's error code and whose Call() names the call that failed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zyp::platform {

// A file opened for writing; closing it (destruction) is part of the write.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // WriteFile of all bytes.
  virtual void Write(const void* data, std::size_t size) = 0;
};

// What ReadAll found at a path.
struct FileContent {
  enum class Status {
    Read,          // the bytes are the whole file
    NotADiskFile,  // a device, a pipe or a folder: nothing read
    TooLarge,      // more than the limit: nothing read
  };
  Status status = Status::Read;
  std::vector<std::uint8_t> bytes;
};

class Files {
 public:
  virtual ~Files() = default;
  // GetTempPathW with the given capacity; ends with "\". A path longer
  // than the capacity fails with ERROR_INSUFFICIENT_BUFFER.
  virtual std::u16string TempPath(std::uint32_t capacity) = 0;
  // GetFileAttributesW succeeds and reports the directory attribute.
  virtual bool DirectoryExists(const std::u16string& path) = 0;
  // An existing file that is not a folder; false for an empty path.
  virtual bool FileExists(const std::u16string& path) = 0;
  // CreateDirectoryW without security attributes; ERROR_ALREADY_EXISTS when
  // the name is taken.
  virtual void MakeDirectory(const std::u16string& path) = 0;
  // CreateFileW: write access, read sharing only, CREATE_ALWAYS, normal
  // attributes. Never null.
  virtual std::unique_ptr<WritableFile> CreateForWriting(const std::u16string& path) = 0;
  // DeleteFileW.
  virtual void Remove(const std::u16string& path) = 0;
  // RemoveDirectoryW: removes a folder that holds nothing; one that holds
  // anything fails with ERROR_DIR_NOT_EMPTY.
  virtual void RemoveEmptyDirectory(const std::u16string& path) = 0;
  // Opens the file for reading while others may read but not write, and
  // reads all of it, provided that the open handle is a regular file on a
  // disk (GetFileType FILE_TYPE_DISK, not a folder) and that it holds at most
  // maxSize bytes (nothing is read otherwise). A file that another program
  // holds (sharing or lock violation) is tried again for up to a second.
  // Refusing a device or an oversized file is an outcome, not a failure.
  virtual FileContent ReadAll(const std::u16string& path, std::uint64_t maxSize) = 0;
};

}  // namespace zyp::platform
