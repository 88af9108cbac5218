#pragma once
// Files and folders that a test makes in the temporary folder and takes
// away when it ends, named after the test process so that tests can run
// side by side.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zyp::testing {

// The temporary folder, with its trailing "\".
std::wstring TempFolder();

// How many files in the folder match the pattern (such as L"PMM*.tmp").
std::size_t CountFiles(const std::wstring& folder, const wchar_t* pattern);

// Sets the last write time of the file or folder at path to age before now
// (after it, for a negative age); false when it cannot.
bool SetWriteAge(const std::wstring& path, std::chrono::seconds age);

// A file "zyp-<process id>-<name>" in the temporary folder holding exactly
// the bytes; removed when it goes, if something else did not remove it.
class ScratchFile {
 public:
  ScratchFile(std::wstring_view name, std::string_view bytes);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

// A folder "zyp-<process id>-<name>" in the temporary folder, removed with
// what is left in it when it goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(std::wstring_view name);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // With its trailing "\".
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

// A scratch folder that is the process's temporary folder (TMP and TEMP)
// while it lives; the variables are as before afterwards. Tests that look
// for the files a client leaves there see their own, not those of a test
// program running beside them.
class OwnTempFolder {
 public:
  OwnTempFolder();
  ~OwnTempFolder();
  OwnTempFolder(const OwnTempFolder&) = delete;
  OwnTempFolder& operator=(const OwnTempFolder&) = delete;

  // With its trailing "\".
  const std::wstring& Path() const { return folder_.Path(); }

 private:
  static constexpr const wchar_t* kNames[] = {L"TMP", L"TEMP"};
  ScratchFolder folder_{L"temp"};
  std::optional<std::wstring> saved_[2];
};

}  // namespace zyp::testing
