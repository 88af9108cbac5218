#pragma once
// An in-memory file system with Windows' rules for the operations the program
// uses: paths compare with ASCII letters folded, a folder or file needs its
// parent folder, failures throw PlatformError with Windows' error codes and
// the name of the call, and every change is recorded in one log.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/error.h"
#include "platform/files.h"

namespace zyp::fakes {

class FakeFiles : public platform::Files {
 public:
  static constexpr std::uint32_t kFileNotFound = 2;
  static constexpr std::uint32_t kPathNotFound = 3;
  static constexpr std::uint32_t kAccessDenied = 5;
  static constexpr std::uint32_t kSharingViolation = 32;
  static constexpr std::uint32_t kDiskFull = 112;
  static constexpr std::uint32_t kDirNotEmpty = 145;
  static constexpr std::uint32_t kInsufficientBuffer = 122;
  static constexpr std::uint32_t kAlreadyExists = 183;
  static constexpr std::uint32_t kNotADirectory = 267;

  // What GetTempPathW reports; empty makes it fail.
  std::u16string tempPath = u"C:\\Temp\\";
  // Bytes that writes may still add before the disk is full.
  std::size_t freeSpace = static_cast<std::size_t>(-1);
  // Runs just before a folder is created, e.g. to let another process win.
  std::function<void(const std::u16string& path)> beforeMakeDirectory;
  // "exists", "mkdir", "create", "write <n bytes>", "close", "remove",
  // "rmdir" and "read", each with its path, successful or not.
  std::vector<std::u16string> log;

  FakeFiles() { AddFolder(u"C:\\"); }

  // Adds the folder and every missing parent.
  void AddFolder(const std::u16string& path) {
    const std::u16string key = Key(path);
    for (std::size_t at = key.find(u'\\'); at != std::u16string::npos; at = key.find(u'\\', at + 1))
      folders_.insert(key.substr(0, at));
    folders_.insert(key);
  }
  void AddFile(const std::u16string& path, const std::string& bytes) {
    AddFolder(Parent(Key(path)));
    files_[Key(path)] = File{path, bytes, 0, false};
  }
  // A name that opens a device, which exists as a file does.
  void AddDevice(const std::u16string& path) { devices_.insert(Key(path)); }
  // Creating or removing anything directly inside the folder is refused.
  void DenyChanges(const std::u16string& folder) { denied_.insert(Key(folder)); }
  void AllowChanges(const std::u16string& folder) { denied_.erase(Key(folder)); }
  // Another process holds the file open without sharing write access.
  void HoldOpen(const std::u16string& path, bool held = true) { files_.at(Key(path)).heldElsewhere = held; }

  bool HasFile(const std::u16string& path) const { return files_.count(Key(path)) != 0; }
  bool HasFolder(const std::u16string& path) const { return folders_.count(Key(path)) != 0; }
  const std::string& Content(const std::u16string& path) const { return files_.at(Key(path)).bytes; }
  // The paths of all files, as they were first created.
  std::vector<std::u16string> FilePaths() const {
    std::vector<std::u16string> paths;
    for (const auto& [key, file] : files_) paths.push_back(file.path);
    return paths;
  }

  std::u16string TempPath(std::uint32_t capacity) override {
    if (tempPath.empty()) Fail(kPathNotFound, "GetTempPathW");
    // The capacity counts the terminating zero too.
    if (tempPath.size() >= capacity) Fail(kInsufficientBuffer, "GetTempPathW");
    return tempPath;
  }
  bool DirectoryExists(const std::u16string& path) override { return !path.empty() && HasFolder(path); }
  bool FileExists(const std::u16string& path) override {
    log.push_back(u"exists " + path);
    return !path.empty() && (HasFile(path) || devices_.count(Key(path)) != 0);
  }
  void MakeDirectory(const std::u16string& path) override {
    log.push_back(u"mkdir " + path);
    if (beforeMakeDirectory) beforeMakeDirectory(path);
    const std::u16string key = Key(path);
    if (folders_.count(key) || files_.count(key)) Fail(kAlreadyExists, "CreateDirectoryW");
    if (!folders_.count(Parent(key))) Fail(kPathNotFound, "CreateDirectoryW");
    if (denied_.count(Parent(key))) Fail(kAccessDenied, "CreateDirectoryW");
    folders_.insert(key);
  }

  std::unique_ptr<platform::WritableFile> CreateForWriting(const std::u16string& path) override {
    log.push_back(u"create " + path);
    const std::u16string key = Key(path);
    auto existing = files_.find(key);
    const std::uint32_t refusal =
        !folders_.count(Parent(key))                        ? kPathNotFound
        : folders_.count(key) || denied_.count(Parent(key)) ? kAccessDenied
        : existing != files_.end() && (existing->second.heldElsewhere || existing->second.writers > 0)
            ? kSharingViolation
            : 0;
    if (refusal != 0) Fail(refusal, "CreateFileW");
    File& file = existing != files_.end() ? existing->second : files_[key];
    if (file.path.empty()) file.path = path;
    file.bytes.clear();
    ++file.writers;
    return std::make_unique<Writer>(*this, key);
  }

  void Remove(const std::u16string& path) override {
    log.push_back(u"remove " + path);
    const std::u16string key = Key(path);
    auto file = files_.find(key);
    if (file == files_.end()) Fail(folders_.count(Parent(key)) ? kFileNotFound : kPathNotFound, "DeleteFileW");
    if (file->second.heldElsewhere || file->second.writers > 0) Fail(kSharingViolation, "DeleteFileW");
    if (denied_.count(Parent(key))) Fail(kAccessDenied, "DeleteFileW");
    files_.erase(file);
  }

  void RemoveEmptyDirectory(const std::u16string& path) override {
    log.push_back(u"rmdir " + path);
    const std::u16string key = Key(path);
    if (files_.count(key)) Fail(kNotADirectory, "RemoveDirectoryW");
    if (!folders_.count(key)) Fail(folders_.count(Parent(key)) ? kFileNotFound : kPathNotFound, "RemoveDirectoryW");
    const auto inside = [&](const std::u16string& other) { return Parent(other) == key; };
    if (std::any_of(folders_.begin(), folders_.end(), inside) ||
        std::any_of(files_.begin(), files_.end(), [&](const auto& file) { return inside(file.first); }))
      Fail(kDirNotEmpty, "RemoveDirectoryW");
    if (denied_.count(Parent(key))) Fail(kAccessDenied, "RemoveDirectoryW");
    folders_.erase(key);
  }

  platform::FileContent ReadAll(const std::u16string& path, std::uint64_t maxSize) override {
    using Status = platform::FileContent::Status;
    log.push_back(u"read " + path);
    if (devices_.count(Key(path))) return {Status::NotADiskFile, {}};
    // Opening a folder as a file is refused.
    if (folders_.count(Key(path))) Fail(kAccessDenied, "CreateFileW");
    auto file = files_.find(Key(path));
    if (file == files_.end()) Fail(kFileNotFound, "CreateFileW");
    if (file->second.writers > 0) Fail(kSharingViolation, "CreateFileW");
    if (file->second.bytes.size() > maxSize) return {Status::TooLarge, {}};
    return {Status::Read, std::vector<std::uint8_t>(file->second.bytes.begin(), file->second.bytes.end())};
  }

 private:
  struct File {
    std::u16string path;
    std::string bytes;
    int writers = 0;
    bool heldElsewhere = false;
  };

  class Writer : public platform::WritableFile {
   public:
    Writer(FakeFiles& files, std::u16string key) : files_(files), key_(std::move(key)) {}
    ~Writer() override {
      File& file = files_.files_.at(key_);
      --file.writers;
      files_.log.push_back(u"close " + file.path);
    }
    void Write(const void* data, std::size_t size) override {
      File& file = files_.files_.at(key_);
      files_.log.push_back(u"write " + Number(size) + u" " + file.path);
      const std::size_t fits = size < files_.freeSpace ? size : files_.freeSpace;
      file.bytes.append(static_cast<const char*>(data), fits);
      files_.freeSpace -= fits;
      if (fits != size) Fail(kDiskFull, "WriteFile");
    }

   private:
    FakeFiles& files_;
    std::u16string key_;
  };

  static std::u16string Number(std::size_t n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
  }
  // Folded, "/" read as "\", without trailing separators ("C:\" is "c:").
  static std::u16string Key(const std::u16string& path) {
    std::u16string key = path;
    for (char16_t& c : key) c = c == u'/' ? u'\\' : AsciiLower(c);
    while (!key.empty() && key.back() == u'\\') key.pop_back();
    return key;
  }
  static std::u16string Parent(const std::u16string& key) {
    const std::size_t at = key.rfind(u'\\');
    return at == std::u16string::npos ? std::u16string() : key.substr(0, at);
  }
  // The system's texts for the codes used here, as the error box shows them.
  [[noreturn]] static void Fail(std::uint32_t code, const char* call) {
    const char16_t* text = code == kFileNotFound       ? u"The system cannot find the file specified."
                           : code == kPathNotFound     ? u"The system cannot find the path specified."
                           : code == kAccessDenied     ? u"Access is denied."
                           : code == kSharingViolation ? u"The file is being used by another process."
                           : code == kDiskFull         ? u"There is not enough space on the disk."
                           : code == kAlreadyExists    ? u"Cannot create a file when that file already exists."
                           : code == kDirNotEmpty      ? u"The directory is not empty."
                           : code == kNotADirectory    ? u"The directory name is invalid."
                                                       : u"The data area passed to a system call is too small.";
    throw PlatformError(code, text, call);
  }

  std::set<std::u16string> folders_;
  std::set<std::u16string> denied_;
  std::set<std::u16string> devices_;
  std::map<std::u16string, File> files_;
};

}  // namespace zyp::fakes
