#pragma once
// The companions' journal: one JSON object per line for every event, appended
// to the file named by ZYP_JOURNAL, so that tests and the demo can see what a
// companion received. Several processes may append to the same file.
#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/scoped_handle.h"

namespace zyp::companions {

// One journal line under construction: {"event":...,"process":...,"pid":...,
// "tick":...} followed by the fields added to it.
class JournalEntry {
 public:
  explicit JournalEntry(std::string_view event);

  JournalEntry& Text(std::string_view name, std::u16string_view value);
  JournalEntry& Number(std::string_view name, std::int64_t value);
  JournalEntry& Flag(std::string_view name, bool value);
  JournalEntry& Texts(std::string_view name, const std::vector<std::u16string>& values);
  // The bytes as lower-case hex digits, two per byte.
  JournalEntry& Hex(std::string_view name, std::span<const std::uint8_t> bytes);

  // The finished line, with its closing brace and line break.
  std::string Line() const;

 private:
  void Name(std::string_view name);

  std::string line_;
};

class Journal {
 public:
  // Opens the file named by ZYP_JOURNAL for appending; without it, entries go
  // nowhere.
  Journal();

  // One WriteFile per line, under the mutex that every writer of the same
  // journal shares, so lines of several threads and processes never mix.
  void Write(const JournalEntry& entry);

 private:
  static constexpr DWORD kWriterWaitMs = 5000;

  win32::UniqueHandle file_;
  win32::UniqueHandle writers_;
};

// The name this process is journaled under: its file name without folder and
// extension.
const std::u16string& ProcessName();

}  // namespace zyp::companions
