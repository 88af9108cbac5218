#pragma once
// An in-memory file system with Windows' rules for the operations the program
// uses: paths compare with ASCII letters folded, a folder or file needs its
// parent folder, failures leave Windows' error codes as the last error, and
// every change is recorded in one log.
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
  static constexpr std::uint32_t kAlreadyExists = 183;

  // What GetTempPathW reports; empty makes it fail.
  std::u16string tempPath = u"C:\\Temp\\";
  // Bytes that writes may still add before the disk is full.
  std::size_t freeSpace = static_cast<std::size_t>(-1);
  // Runs just before a folder is created, e.g. to let another process win.
  std::function<void(const std::u16string& path)> beforeMakeDirectory;
  // "exists", "mkdir", "create", "write <n bytes>", "close", "remove" and
  // "read", each with its path, successful or not.
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
    // The capacity counts the terminating zero too.
    return tempPath.size() < capacity ? tempPath : std::u16string();
  }
  bool DirectoryExists(const std::u16string& path) override { return !path.empty() && HasFolder(path); }
  bool FileExists(const std::u16string& path) override {
    log.push_back(u"exists " + path);
    return !path.empty() && (HasFile(path) || devices_.count(Key(path)) != 0);
  }
  void ClearLastError() override { lastError_ = 0; }
  std::uint32_t LastError() override { return lastError_; }

  bool MakeDirectory(const std::u16string& path) override {
    log.push_back(u"mkdir " + path);
    if (beforeMakeDirectory) beforeMakeDirectory(path);
    const std::u16string key = Key(path);
    if (folders_.count(key) || files_.count(key)) return Fail(kAlreadyExists);
    if (!folders_.count(Parent(key))) return Fail(kPathNotFound);
    if (denied_.count(Parent(key))) return Fail(kAccessDenied);
    folders_.insert(key);
    return true;
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
    if (refusal != 0) {
      Fail(refusal);
      return nullptr;
    }
    File& file = existing != files_.end() ? existing->second : files_[key];
    if (file.path.empty()) file.path = path;
    file.bytes.clear();
    ++file.writers;
    return std::make_unique<Writer>(*this, key);
  }

  bool Remove(const std::u16string& path) override {
    log.push_back(u"remove " + path);
    const std::u16string key = Key(path);
    auto file = files_.find(key);
    if (file == files_.end()) return Fail(folders_.count(Parent(key)) ? kFileNotFound : kPathNotFound);
    if (file->second.heldElsewhere || file->second.writers > 0) return Fail(kSharingViolation);
    if (denied_.count(Parent(key))) return Fail(kAccessDenied);
    files_.erase(file);
    return true;
  }

  platform::FileContent ReadAll(const std::u16string& path, std::uint64_t maxSize) override {
    using Status = platform::FileContent::Status;
    log.push_back(u"read " + path);
    if (devices_.count(Key(path))) return {Status::NotADiskFile, {}};
    if (folders_.count(Key(path))) {
      // Opening a folder as a file is refused.
      Fail(kAccessDenied);
      throw PlatformError(kAccessDenied, u"Access is denied.");
    }
    auto file = files_.find(Key(path));
    if (file == files_.end()) {
      Fail(kFileNotFound);
      throw PlatformError(kFileNotFound, u"The system cannot find the file specified.");
    }
    if (file->second.writers > 0) {
      Fail(kSharingViolation);
      throw PlatformError(kSharingViolation, u"The file is being used by another process.");
    }
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
    bool Write(const void* data, std::size_t size) override {
      File& file = files_.files_.at(key_);
      files_.log.push_back(u"write " + Number(size) + u" " + file.path);
      const std::size_t fits = size < files_.freeSpace ? size : files_.freeSpace;
      file.bytes.append(static_cast<const char*>(data), fits);
      files_.freeSpace -= fits;
      if (fits == size) return true;
      return files_.Fail(kDiskFull);
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
  bool Fail(std::uint32_t code) {
    lastError_ = code;
    return false;
  }

  std::set<std::u16string> folders_;
  std::set<std::u16string> denied_;
  std::set<std::u16string> devices_;
  std::map<std::u16string, File> files_;
  std::uint32_t lastError_ = 0;
};

}  // namespace zyp::fakes
