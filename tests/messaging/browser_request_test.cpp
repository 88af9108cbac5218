#include "messaging/browser_request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "intake/utf8.h"
#include "messaging/program_input.h"

namespace zyp::messaging {
namespace {

std::vector<std::string> ProgramLines(const std::string& json) {
  const ParsedRequest parsed = ParseRequest(json);
  EXPECT_TRUE(parsed.request) << json << " was refused: " << parsed.refusal;
  std::vector<std::string> lines;
  if (parsed.request)
    for (const std::u16string& line : ArgumentLines(*parsed.request)) lines.push_back(intake::ToUtf8(line));
  return lines;
}

TEST(BrowserRequest, BecomesTheProgramsArgumentsInItsOrder) {
  EXPECT_EQ(ProgramLines(R"({"type":"add","url":"https://a.example/f.zip","cookies":"id=42; lang=en","browser":"CH",)"
                         R"j("userAgent":"Mozilla/5.0 (X11)","pageTitle":"Files","linkText":"The file"})j"),
            (std::vector<std::string>{"https://a.example/f.zip", "cookielist=id=42; lang=en", "cookies=CH",
                                      "agent=Mozilla/5.0 (X11)", "pagetitle=Files", "linktext=The file"}));
  // An empty cookie list is passed on: it deletes the site's cookie file.
  EXPECT_EQ(ProgramLines(R"({"type":"add","url":"http://a.example/","cookies":""})"),
            (std::vector<std::string>{"http://a.example/", "cookielist="}));
  // The marker comes right after the address, where the program looks for it.
  EXPECT_EQ(ProgramLines(R"({"type":"explore","url":"FTP://a.example/","linkText":"x"})"),
            (std::vector<std::string>{"FTP://a.example/", "linkexplorer", "linktext=x"}));
  EXPECT_EQ(ProgramLines(R"({"type":"list","urls":["http://a.example/1","https://b.example/2?q=1#x"]})"),
            (std::vector<std::string>{"zypqueue=http://a.example/1 https://b.example/2?q=1#x"}));
  // Line breaks, tabs and other controls of a page's texts become one blank.
  EXPECT_EQ(ProgramLines("{\"type\":\"add\",\"url\":\"http://a.example/\",\"pageTitle\":\"a\\r\\n\\t\\u0085b\\u2028c\","
                         "\"linkText\":\"\\u0000x\\u001f\"}"),
            (std::vector<std::string>{"http://a.example/", "pagetitle=a b c", "linktext= x "}));
  // Members nobody asked for are ignored, whatever they hold.
  EXPECT_EQ(ProgramLines(R"({"type":"add","url":"http://a.example/","extra":[[[{"a":[1,2]}]]],"more":null})"),
            (std::vector<std::string>{"http://a.example/"}));
}

TEST(BrowserRequest, QueueAndStatusNeedNoLines) {
  const ParsedRequest start = ParseRequest(R"({"type":"queue","action":"start"})");
  ASSERT_TRUE(start.request);
  EXPECT_EQ(ControlWord(*start.request), u"START");
  const ParsedRequest stop = ParseRequest(R"({"type":"queue","action":"stop"})");
  ASSERT_TRUE(stop.request);
  EXPECT_EQ(ControlWord(*stop.request), u"STOP");
  const ParsedRequest status = ParseRequest(R"({"type":"status"})");
  ASSERT_TRUE(status.request);
  EXPECT_EQ(status.request->type, RequestType::Status);
}

struct RefusalCase {
  const char* name;
  std::string json;
  std::string member;  // the refusal starts with this
};

class BrowserRequestRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(BrowserRequestRefusal, NamesWhatWasWrong) {
  const ParsedRequest parsed = ParseRequest(GetParam().json);
  EXPECT_FALSE(parsed.request);
  EXPECT_EQ(parsed.refusal.rfind(GetParam().member, 0), 0u) << "refusal: " << parsed.refusal;
}

std::string Add(const std::string& members) { return R"({"type":"add","url":"http://a.example/")" + members + "}"; }
std::string WithUrl(const std::string& url) { return R"({"type":"add","url":")" + url + R"("})"; }

INSTANTIATE_TEST_SUITE_P(
    Cases, BrowserRequestRefusal,
    ::testing::Values(
        RefusalCase{"not_json", "{\"type\":", "not valid JSON"},
        RefusalCase{"not_an_object", "[1,2]", "not a JSON object"},
        RefusalCase{"a_text", "\"add\"", "not a JSON object"}, RefusalCase{"no_type", "{}", "type:"},
        RefusalCase{"type_not_text", R"({"type":1})", "type:"},
        RefusalCase{"unknown_type", R"({"type":"delete"})", "type:"},
        RefusalCase{"no_url", R"({"type":"add"})", "url:"},
        RefusalCase{"url_not_text", R"({"type":"explore","url":["http://a.example/"]})", "url:"},
        RefusalCase{"control_word", WithUrl("START"), "url:"},
        RefusalCase{"list_word", WithUrl("zypqueue=http://a.example/"), "url:"},
        RefusalCase{"parameter_file", WithUrl("C:\\\\Users\\\\me\\\\request.txt"), "url:"},
        RefusalCase{"paramfile_keyword", WithUrl("paramfile=C:\\\\x.txt"), "url:"},
        RefusalCase{"other_scheme", WithUrl("file:///C:/x"), "url:"},
        RefusalCase{"javascript", WithUrl("javascript:alert(1)"), "url:"},
        RefusalCase{"no_server", WithUrl("http:///x"), "url:"},
        RefusalCase{"relative", WithUrl("//a.example/x"), "url:"},
        RefusalCase{"blank", WithUrl("http://a.example/a b"), "url:"},
        RefusalCase{"line_break", WithUrl("http://a.example/\\r\\ncookielist=x"), "url:"},
        RefusalCase{"tab", WithUrl("http://a.example/\\tx"), "url:"},
        RefusalCase{"nul", WithUrl("http://a.example/\\u0000"), "url:"},
        RefusalCase{"too_long", WithUrl("http://a.example/" + std::string(32768 - 17 + 1, 'a')), "url:"},
        RefusalCase{"cookies_not_text", Add(R"(,"cookies":null)"), "cookies:"},
        RefusalCase{"agent_control", Add(R"(,"userAgent":"Mozilla\u0001")"), "userAgent:"},
        RefusalCase{"agent_unpaired_surrogate", Add(R"(,"userAgent":"Mozilla\ud800")"), "userAgent:"},
        RefusalCase{"url_unpaired_surrogate", WithUrl("http://a.example/\\udc00"), "url:"},
        RefusalCase{"browser_punctuation", Add(R"(,"browser":"C-H")"), "browser:"},
        RefusalCase{"browser_too_long", Add(R"(,"browser":"ABCDEFGHIJKLMNOPQ")"), "browser:"},
        RefusalCase{"title_not_text", Add(R"(,"pageTitle":5)"), "pageTitle:"},
        RefusalCase{"link_text_marker", Add(R"(,"linkText":" linkexplorer\t")"), "linkText:"},
        RefusalCase{"page_title_marker", Add(R"(,"pageTitle":"linkexplorer","linkText":"")"), "pageTitle:"},
        RefusalCase{"no_urls", R"({"type":"list"})", "urls:"},
        RefusalCase{"urls_not_array", R"({"type":"list","urls":"http://a.example/"})", "urls:"},
        RefusalCase{"urls_empty", R"({"type":"list","urls":[]})", "urls:"},
        RefusalCase{"urls_entry_not_text", R"({"type":"list","urls":["http://a.example/",7]})", "urls[1]:"},
        RefusalCase{"urls_entry_bad", R"({"type":"list","urls":["http://a.example/","http://b c/"]})", "urls[1]:"},
        RefusalCase{"urls_nested", R"({"type":"list","urls":["http://a.example/",["http://b.example/"]]})", "urls:"},
        RefusalCase{"no_action", R"({"type":"queue"})", "action:"},
        RefusalCase{"action_case", R"({"type":"queue","action":"START"})", "action:"},
        RefusalCase{"id_object", R"({"type":"status","id":{}})", "id:"},
        RefusalCase{"id_too_long", R"({"type":"status","id":")" + std::string(257, 'x') + R"("})", "id:"},
        RefusalCase{"id_bool", R"({"type":"status","id":true})", "id:"},
        RefusalCase{"id_number_too_long", R"({"type":"status","id":1)" + std::string(64, '0') + "}", "id:"},
        RefusalCase{"nested_deeply", "{\"extra\":" + std::string(100000, '[') + std::string(100000, ']') + "}",
                    "not a request: nested too deeply"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(BrowserRequest, IdIsEchoedAsSentAlsoWithARefusal) {
  // Each as it came: a number's every digit, a text's escapes.
  for (const std::string& id :
       std::vector<std::string>{"17", "-0", "0.10000000000000001", "12345678901234567890123", "12345678901234567890124",
                                "1e400", "-2.5E-400", "1" + std::string(63, '0'), R"("a\"b")", R"("\u00e9\ud800")"}) {
    const ParsedRequest parsed = ParseRequest(R"({"type":"status","id":)" + id + "}");
    EXPECT_EQ(parsed.id, id);
    EXPECT_TRUE(parsed.request) << parsed.refusal;
  }
  // 256 characters counted as the browsers count them: 256 UTF-16 code units.
  const std::string longest = "\"" + std::string(128 * 2, 'x') + "\"";
  EXPECT_EQ(ParseRequest(R"({"type":"status","id":)" + longest + "}").id, longest);
  const ParsedRequest refused = ParseRequest(R"({"id":"r-1","type":"add","url":"START"})");
  EXPECT_FALSE(refused.request);
  EXPECT_EQ(refused.id, R"("r-1")");
  EXPECT_EQ(ParseRequest(R"({"type":"status"})").id, "");
  // The last id counts, its name read with its escapes undone; a number
  // past a double's range elsewhere costs nothing.
  const ParsedRequest repeated = ParseRequest(R"({"id":1,"type":"status","\u0069d":2,"extra":[1e400]})");
  EXPECT_EQ(repeated.id, "2");
  EXPECT_TRUE(repeated.request) << repeated.refusal;
}

struct CookieCase {
  std::string cookies;                 // the member's JSON text
  std::optional<std::string> carried;  // the cookie list the program is given
  std::size_t leftOut;
};

TEST(BrowserRequest, CookiesThatCannotBeCarriedAreLeftOutAloneTheOthersKeptAsSent) {
  const CookieCase cases[] = {
      {R"("a=1; b=x\ty; c=3")", "a=1; c=3", 1},
      {R"("b=x\ty; a=1 ;c=3")", " a=1 ;c=3", 1},
      {R"("a=1; b=\r\nlinkexplorer; c=\u0000; d=\u0085; e=\u2028; f=\u007f; g=\ud800; h=\ud83d\ude00")",
       "a=1; h=\xF0\x9F\x98\x80", 6},
      // Room between cookies that holds a line break is no cookie, and goes.
      {R"("a=1;\r\n;b=2")", "a=1;b=2", 0},
      // Nothing left but room, or nothing at all: no list, so the site's
      // cookie file stays as it was.
      {R"("x=\t1; ; ")", std::nullopt, 1},
      {R"("\n")", std::nullopt, 0},
      // What the program can carry goes as it came, however it reads it.
      {R"("")", "", 0},
      {R"(" ")", " ", 0},
      {R"("flag; n=; =v; x=a=b;")", "flag; n=; =v; x=a=b;", 0},
      {R"("x=\t1; flag")", " flag", 1},
  };
  for (const CookieCase& c : cases) {
    SCOPED_TRACE(c.cookies);
    const ParsedRequest parsed =
        ParseRequest(R"({"type":"add","url":"http://a.example/","cookies":)" + c.cookies + "}");
    ASSERT_TRUE(parsed.request) << parsed.refusal;
    EXPECT_EQ(parsed.request->cookiesLeftOut, c.leftOut);
    std::vector<std::string> expected = {"http://a.example/"};
    if (c.carried) expected.push_back("cookielist=" + *c.carried);
    std::vector<std::string> lines;
    for (const std::u16string& line : ArgumentLines(*parsed.request)) lines.push_back(intake::ToUtf8(line));
    EXPECT_EQ(lines, expected);
  }
}

TEST(BrowserRequest, AddressLengthCountsUtf16CodeUnits) {
  const std::u16string head = u"http://a.example/";
  EXPECT_TRUE(IsAcceptedAddress(head + std::u16string(kMaxAddressLength - head.size(), u'a')));
  EXPECT_FALSE(IsAcceptedAddress(head + std::u16string(kMaxAddressLength - head.size() + 1, u'a')));
  EXPECT_TRUE(IsAcceptedAddress(u"HTTPS://a.example/\u00e9"));
}

TEST(ParameterFile, IsUtf8WithItsMarkAndTheHeaderThenOneLineEach) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"type":"add","url":"http://a.example/\u00e9","pageTitle":"T"})",
       "http://a.example/\xC3\xA9\r\npagetitle=T\r\n"},
      {R"({"type":"list","urls":["http://a.example/\u00e9","ftp://b.example/\ud83d\ude00"]})",
       "zypqueue=http://a.example/\xC3\xA9 ftp://b.example/\xF0\x9F\x98\x80\r\n"},
  };
  for (const auto& [json, lines] : cases) {
    const ParsedRequest parsed = ParseRequest(json);
    ASSERT_TRUE(parsed.request) << json << " was refused: " << parsed.refusal;
    EXPECT_EQ(ParameterFileBytes(*parsed.request), "\xEF\xBB\xBFZYP Parameter File\r\n" + lines) << json;
  }
}

// A list of n addresses, with what follows it inside the request.
std::string List(std::size_t n, const std::string& after = "") {
  std::string json = R"({"type":"list","urls":[)";
  for (std::size_t i = 0; i < n; ++i)
    json += (i > 0 ? ",\"http://a.example/" : "\"http://a.example/") + std::to_string(i) + "\"";
  return json + after + "]}";
}

// "0,0,…,0": n entries of the smallest kind.
std::string Zeros(std::size_t n) {
  std::string zeros(2 * n - 1, ',');
  for (std::size_t i = 0; i < zeros.size(); i += 2) zeros[i] = '0';
  return zeros;
}

TEST(BrowserRequest, ListHoldsAtMostItsCapWhateverFollowsIt) {
  struct Case {
    const char* name;
    std::string json;
    std::string refusal;  // empty: accepted
  };
  const Case cases[] = {
      {"at the cap", List(kMaxListAddresses), ""},
      {"one past", List(kMaxListAddresses + 1), "urls: must hold 1 to 100000 addresses"},
      // Past the cap entries are still read: a fault there is the first met.
      {"nested past the cap", List(kMaxListAddresses + 1, ",[1]"), "urls: nested too deeply"},
      {"broken past the cap", List(kMaxListAddresses + 1, ",x"), "not valid JSON"},
      {"not a text past the cap", List(kMaxListAddresses, ",7"), "urls: must hold 1 to 100000 addresses"},
      // What is not read as the list has no cap: it is never kept.
      {"in a skipped member",
       R"({"type":"list","extra":[)" + Zeros(kMaxListAddresses + 1) + R"(],"urls":["http://a.example/"]})", ""},
      {"in an add request", R"({"type":"add","url":"http://a.example/","urls":[)" + Zeros(kMaxListAddresses + 1) + "]}",
       ""},
  };
  for (const Case& c : cases) {
    const ParsedRequest parsed = ParseRequest(c.json);
    EXPECT_EQ(parsed.refusal.substr(0, c.refusal.size()), c.refusal) << c.name;
    EXPECT_EQ(parsed.request.has_value(), c.refusal.empty()) << c.name << ": " << parsed.refusal;
    if (parsed.request && parsed.request->type == RequestType::List) {
      EXPECT_EQ(
          parsed.request->urls.size() == kMaxListAddresses && parsed.request->urls.back() == u"http://a.example/99999",
          c.name == std::string_view("at the cap"))
          << c.name;
    }
  }
}

}  // namespace
}  // namespace zyp::messaging
