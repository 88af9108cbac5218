// The journal carries exact texts: whatever a companion writes, the reader
// gets back code unit for code unit.
#include <gtest/gtest.h>

#include "companions/journal.h"
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

TEST(JournalFormat, BytesAreWrittenAsHex) {
  const std::uint8_t bytes[] = {0x00, 0x0f, 0x10, 0x7f, 0x80, 0xff};
  companions::JournalEntry entry("sample");
  entry.Hex("bytes_hex", bytes);
  const auto value = ParseJson(entry.Line());
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ((*value)["bytes_hex"].AsText(), u"000f107f80ff");
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
