#include "messaging/json_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zyp::messaging {
namespace {

const std::vector<std::string_view> kKept = {"id", "text", "list"};
constexpr std::size_t kMaxEntries = 4;

std::string Refusal(const std::string& json) {
  try {
    ReadJsonObject(json, kKept, kMaxEntries);
  } catch (const JsonRefusal& refusal) {
    return refusal.reason;
  }
  return "(read)";
}

TEST(JsonObject, NumbersKeepTheirTextWhateverTheirSize) {
  for (const std::string number :
       {"0", "-0", "17", "0.10000000000000001", "12345678901234567890123", "1e400", "-1E-400", "2.5e+3"}) {
    const std::string json = R"({"id": )" + number + " }";  // what raw views
    const JsonObject object = ReadJsonObject(json, kKept, kMaxEntries);
    ASSERT_NE(object.Find("id"), nullptr) << number;
    EXPECT_EQ(object.Find("id")->kind, JsonValue::Kind::Number);
    EXPECT_EQ(object.Find("id")->raw, number);
  }
}

TEST(JsonObject, TextsAreUtf16WithEveryEscapeUndone) {
  const JsonObject object = ReadJsonObject(R"({"text":"a\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00\ud800x\udc00)"
                                           "\xC3\xA9\xF0\x9F\x98\x80\x7F\"}",
                                           kKept, kMaxEntries);
  const JsonValue* text = object.Find("text");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text, std::u16string(u"a\"\\/\b\f\n\r\t\u00e9\U0001F600") + char16_t(0xD800) + u"x" +
                            char16_t(0xDC00) + u"\u00e9\U0001F600\u007f");
  EXPECT_EQ(text->raw.front(), '"');
  EXPECT_EQ(text->raw.back(), '"');
}

TEST(JsonObject, KeepsOnlyTheNamedMembersTheLastOfEachNameAsItsEscapedNameReads) {
  const std::string_view json =
      "\xEF\xBB\xBF {\"id\":1,\"other\":{\"id\":2,\"a\":[[[]]]},\"\\u0069d\":\"x\",\"list\":[\"a\",3,null,true],"
      "\"text\":{\"b\":false},\"Id\":9}\r\n";
  const JsonObject object = ReadJsonObject(json, kKept, kMaxEntries);
  ASSERT_NE(object.Find("id"), nullptr);
  EXPECT_EQ(object.Find("id")->raw, "\"x\"");
  EXPECT_EQ(object.Find("other"), nullptr);
  EXPECT_EQ(object.Find("Id"), nullptr);
  const JsonValue* list = object.Find("list");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->entries.size(), 4u);
  EXPECT_EQ(list->entries[0].text, u"a");
  EXPECT_EQ(list->entries[1].raw, "3");
  EXPECT_EQ(list->entries[2].kind, JsonValue::Kind::Null);
  EXPECT_EQ(list->entries[3].kind, JsonValue::Kind::Boolean);
  EXPECT_EQ(object.Find("text")->kind, JsonValue::Kind::Object);
}

TEST(JsonObject, KeepsTheFirstEntriesOfAnArrayAndCountsTheRest) {
  struct Case {
    std::string json;
    std::string_view name;
    std::size_t count;
    std::vector<std::string_view> kept;  // the raw texts of the kept entries
  };
  const Case cases[] = {
      {R"({"list":[]})", "list", 0, {}},
      {R"({"list":[1,"b",3,null]})", "list", 4, {"1", "\"b\"", "3", ""}},
      {R"({"list":[1,"b",3,null,5]})", "list", 5, {"1", "\"b\"", "3", ""}},
      {R"({"list":[1,2,3,4,5,6,7,8,9,10]})", "list", 10, {"1", "2", "3", "4"}},
      {R"({"list":[1,2,3,4,5],"list":[6]})", "list", 1, {"6"}},
      {R"({"other":[1,2,3,4,5,6],"list":[7]})", "list", 1, {"7"}},
      {R"({"text":{"a":1,"b":2,"c":3,"d":4}})", "text", 4, {}},
  };
  for (const Case& c : cases) {
    const JsonObject object = ReadJsonObject(c.json, kKept, kMaxEntries);
    const JsonValue* value = object.Find(c.name);
    ASSERT_NE(value, nullptr) << c.json;
    EXPECT_EQ(value->count, c.count) << c.json;
    std::vector<std::string_view> kept;
    for (const JsonValue& entry : value->entries) kept.push_back(entry.raw);
    EXPECT_EQ(kept, c.kept) << c.json;
  }
}

TEST(JsonObject, RefusesWhatIsNotJsonAtItsFirstFault) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "not valid JSON (at byte 1)"},
      {"{", "not valid JSON (at byte 2)"},
      {R"({"id":1,})", "not valid JSON (at byte 9)"},
      {R"({"id":01})", "not valid JSON (at byte 8)"},
      {R"({"id":1.})", "not valid JSON (at byte 9)"},
      {R"({"id":.5})", "not valid JSON (at byte 7)"},
      {R"({"id":+1})", "not valid JSON (at byte 7)"},
      {R"({"id":1e})", "not valid JSON (at byte 9)"},
      {R"({"id":NaN})", "not valid JSON (at byte 7)"},
      {R"({"id":tru})", "not valid JSON (at byte 10)"},
      {R"({"id" 1})", "not valid JSON (at byte 7)"},
      {R"({id:1})", "not valid JSON (at byte 2)"},
      {R"({"id":'a'})", "not valid JSON (at byte 7)"},
      {"{\"id\":\"a\tb\"}", "not valid JSON (at byte 9)"},
      {R"({"id":"\x"})", "not valid JSON (at byte 9)"},
      {R"({"id":"\u12G4"})", "not valid JSON (at byte 12)"},
      {"{\"id\":\"\xC0\x80\"}", "not valid JSON (at byte 8)"},      // an overlong form
      {"{\"id\":\"\xED\xA0\x80\"}", "not valid JSON (at byte 9)"},  // a surrogate in UTF-8
      {"{\"id\":\"\xF4\x90\x80\x80\"}", "not valid JSON (at byte 9)"},
      {"{\"id\":\"\xE2\x82\"}", "not valid JSON (at byte 10)"},
      {"{\"id\":\"abc", "not valid JSON (at byte 11)"},
      {R"({"id":1} x)", "not valid JSON (at byte 10)"},
      {R"({"id":1}{})", "not valid JSON (at byte 9)"},
      {R"({"list":[1,]})", "not valid JSON (at byte 12)"},
      {"[1,2]", "not a JSON object"},
      {"\"add\"", "not a JSON object"},
      {"  17 ", "not a JSON object"},
      {"17 x", "not valid JSON (at byte 4)"},
      {R"({"list":[[1]]})", "list: nested too deeply"},
      // Entries past the cap are read all the same.
      {R"({"list":[1,2,3,4,5,[6]]})", "list: nested too deeply"},
      {R"({"list":[1,2,3,4,5,x]})", "not valid JSON (at byte 20)"},
      {R"({"\u006cist":{"a":{}}})", "list: nested too deeply"},
      {"{\"x\":" + std::string(63, '[') + std::string(63, ']') + "}", "(read)"},
      {"{\"x\":" + std::string(64, '[') + std::string(64, ']') + "}", "not a request: nested too deeply"},
      // The first fault decides, whatever follows.
      {R"({"list":[[1]],)", "list: nested too deeply"},
  };
  for (const auto& [json, reason] : cases) EXPECT_EQ(Refusal(json), reason) << json;
}

}  // namespace
}  // namespace zyp::messaging
