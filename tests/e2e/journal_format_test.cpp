// The journal carries exact texts: whatever a companion writes, the reader
// gets back code unit for code unit.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "companions/journal.h"
#include "intake/utf8.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/json_lines.h"

namespace zyp::e2e {
namespace {

TEST(JournalFormat, TextsSurviveTheRoundTrip) {
  const std::u16string texts[] = {
      u"",
      u"plain ascii",
      u"quote \" backslash \\ slash /",
      u"controls \x01\t\n\r\x1f and DEL \x7f",
      u"caf\u00e9 \u20ac \u4e2d",
      u"astral \U0001F600 pair",
      std::u16string(u"lone high \xD800 end"),
      std::u16string(u"lone low \xDC00 end"),
      std::u16string(u"reversed \xDC00\xD800 pair"),
      std::u16string(u"nul \0 inside", 12),
  };
  for (const std::u16string& text : texts) {
    SCOPED_TRACE(::testing::PrintToString(text));
    companions::JournalEntry entry("sample");
    entry.Text("text", text).Texts("list", {text, u"x"}).Number("n", -42).Flag("yes", true);
    const std::string line = entry.Line();
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line per entry";
    const auto value = ParseJson(line);
    ASSERT_TRUE(value.has_value()) << line;
    EXPECT_EQ((*value)["event"].AsText(), u"sample");
    EXPECT_EQ((*value)["text"].AsText(), text) << line;
    EXPECT_EQ((*value)["list"].AsTexts(), (std::vector<std::u16string>{text, u"x"}));
    EXPECT_EQ((*value)["n"].AsInt(), -42);
    EXPECT_TRUE((*value)["yes"].AsBool());
    EXPECT_EQ((*value)["pid"].AsInt(), static_cast<std::int64_t>(::GetCurrentProcessId()));
  }
}

// The exact bytes other tools read: key order, no blanks, every control
// character and DEL as a lower-case \u escape (no short forms such as \n),
// other characters as raw UTF-8, an unpaired surrogate as its \u escape.
TEST(JournalFormat, LinesHaveTheirExactBytes) {
  const std::uint8_t bytes[] = {0x00, 0xab, 0xff};
  companions::JournalEntry entry("sample");
  entry.Text("text", std::u16string(u"q\" b\\ s/ \0\b\t\n\f\r\x1f\x7f \u00e9\u20ac\U0001F600 ", 23) + u"\xDC00\xD800.")
      .Texts("list", {u"a", u""})
      .Texts("none", {})
      .Number("n", -42)
      .Number("big", 9007199254740993)
      .Flag("yes", true)
      .Flag("no", false)
      .Hex("bytes_hex", bytes);
  const std::string head = "{\"event\":\"sample\",\"process\":\"" + intake::ToUtf8(companions::ProcessName()) +
                           "\",\"pid\":" + std::to_string(::GetCurrentProcessId()) + ",\"tick\":";
  const std::string line = entry.Line();
  ASSERT_EQ(line.substr(0, head.size()), head);
  const std::size_t digits = line.find_first_not_of("0123456789", head.size());
  ASSERT_NE(digits, head.size()) << line;
  EXPECT_EQ(line.substr(digits),
            ",\"text\":\"q\\\" b\\\\ s/ \\u0000\\u0008\\u0009\\u000a\\u000c\\u000d\\u001f\\u007f "
            "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 \\udc00\\ud800.\","
            "\"list\":[\"a\",\"\"],\"none\":[],\"n\":-42,\"big\":9007199254740993,\"yes\":true,\"no\":false,"
            "\"bytes_hex\":\"00abff\"}\n");
}

TEST(JournalFormat, BytesAreWrittenAsHex) {
  const std::uint8_t bytes[] = {0x00, 0x0f, 0x10, 0x7f, 0x80, 0xff};
  companions::JournalEntry entry("sample");
  entry.Hex("bytes_hex", bytes);
  const auto value = ParseJson(entry.Line());
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ((*value)["bytes_hex"].AsText(), u"000f107f80ff");
}

// Writers with handles of their own (as the companions' processes have)
// append to one journal at once: every line arrives whole. Wine's append is
// no single step, so the writers must take turns.
TEST(JournalFormat, WritersAppendingAtOnceKeepEveryLineWhole) {
  constexpr int kWriters = 4;
  constexpr int kLines = 500;
  Journal journal;  // the file, and its removal afterwards
  const auto [variable, path] = journal.Variable();
  ASSERT_TRUE(::SetEnvironmentVariableW(variable.c_str(), path.c_str()));
  std::vector<std::unique_ptr<companions::Journal>> writers;
  for (int i = 0; i < kWriters; ++i) writers.push_back(std::make_unique<companions::Journal>());
  ::SetEnvironmentVariableW(variable.c_str(), nullptr);
  const std::u16string filler(300, u'x');
  std::vector<std::thread> threads;
  for (auto& writer : writers)
    threads.emplace_back([&writer, &filler] {
      for (int line = 0; line < kLines; ++line) writer->Write(companions::JournalEntry("sample").Text("text", filler));
    });
  for (std::thread& thread : threads) thread.join();
  // Entries() fails the test on any line that is not JSON.
  EXPECT_EQ(journal.Events("sample").size(), static_cast<std::size_t>(kWriters * kLines));
}

TEST(JournalFormat, ReaderKeepsPartialLastLineForLater) {
  const JsonLines lines = ParseJsonLines("{\"a\":1}\nnot json\n\n{\"b\":[true,null,\"x\"]}\n{\"c\":");
  ASSERT_EQ(lines.values.size(), 2u);
  EXPECT_EQ(lines.values[0]["a"].AsInt(), 1);
  EXPECT_EQ(lines.values[1]["b"].Items().size(), 3u);
  EXPECT_EQ(lines.badLines, std::vector<std::string>{"not json"});
}

}  // namespace
}  // namespace zyp::e2e
