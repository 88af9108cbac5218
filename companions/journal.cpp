#include "companions/journal.h"

#include "companions/environment.h"
#include "intake/utf8.h"
#include "platform/win32/wide_text.h"

namespace zyp::companions {

using intake::AppendUtf8;

namespace {

void AppendEscape(std::string& out, char16_t unit) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(unit >> shift) & 0xF]);
}

// A JSON string in UTF-8. A surrogate without its partner cannot be written
// as UTF-8, so it travels as a \u escape and the reader gets the exact code
// unit back. JSON libraries refuse to write or read such escapes, which is
// why the journal writes its lines itself.
void AppendJsonString(std::string& out, std::u16string_view text) {
  out.push_back('"');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit == u'"' || unit == u'\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(unit));
    } else if (unit < 0x20 || unit == 0x7F) {
      AppendEscape(out, unit);
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendEscape(out, unit);
    } else {
      AppendUtf8(out, unit);
    }
  }
  out.push_back('"');
}

void AppendAscii(std::string& out, std::string_view text) {
  AppendJsonString(out, std::u16string(text.begin(), text.end()));
}

}  // namespace

const std::u16string& ProcessName() {
  static const std::u16string name = [] {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring_view file(path, length);
    file = file.substr(file.find_last_of(L"\\/:") + 1);
    return win32::FromWide(file.substr(0, file.find_last_of(L'.')));
  }();
  return name;
}

JournalEntry::JournalEntry(std::string_view event) : line_(1, '{') {
  Name("event");
  AppendAscii(line_, event);
  Text("process", ProcessName());
  Number("pid", ::GetCurrentProcessId());
  Number("tick", static_cast<std::int64_t>(::GetTickCount64()));
}

void JournalEntry::Name(std::string_view name) {
  if (line_.size() > 1) line_.push_back(',');
  AppendAscii(line_, name);
  line_.push_back(':');
}

JournalEntry& JournalEntry::Text(std::string_view name, std::u16string_view value) {
  Name(name);
  AppendJsonString(line_, value);
  return *this;
}

JournalEntry& JournalEntry::Number(std::string_view name, std::int64_t value) {
  Name(name);
  line_ += std::to_string(value);
  return *this;
}

JournalEntry& JournalEntry::Flag(std::string_view name, bool value) {
  Name(name);
  line_ += value ? "true" : "false";
  return *this;
}

JournalEntry& JournalEntry::Texts(std::string_view name, const std::vector<std::u16string>& values) {
  Name(name);
  line_.push_back('[');
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) line_.push_back(',');
    AppendJsonString(line_, values[i]);
  }
  line_.push_back(']');
  return *this;
}

JournalEntry& JournalEntry::Hex(std::string_view name, std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  Name(name);
  line_.push_back('"');
  for (const std::uint8_t byte : bytes) {
    line_.push_back(kDigits[byte >> 4]);
    line_.push_back(kDigits[byte & 0xF]);
  }
  line_.push_back('"');
  return *this;
}

std::string JournalEntry::Line() const { return line_ + "}\n"; }

Journal::Journal() {
  const std::u16string path = EnvironmentText(u"ZYP_JOURNAL");
  if (path.empty()) return;
  file_.Reset(::CreateFileW(win32::Wide(path), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return;
  // Append-only access puts every write at the end on Windows, but Wine finds
  // the end and writes there in two steps, so two processes appending at once
  // can overwrite each other's line. Every writer of this journal takes the
  // same named mutex around its write.
  std::wstring name = L"ZYPJournal-" + win32::ToWide(path);
  for (wchar_t& c : name)
    if (c == L'\\') c = L'/';
  writers_.Reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
}

void Journal::Write(const JournalEntry& entry) {
  if (!file_) return;
  const std::string line = entry.Line();
  // A writer that died holding the mutex leaves it abandoned, which still
  // hands it over; one that hangs is not waited for beyond a few seconds.
  const bool held = writers_ && ::WaitForSingleObject(writers_.Get(), kWriterWaitMs) != WAIT_TIMEOUT;
  DWORD written = 0;
  // A line that cannot be written is missing from the journal, which is
  // what a test reading it then finds.
  ::WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  if (held) ::ReleaseMutex(writers_.Get());
}

}  // namespace zyp::companions
