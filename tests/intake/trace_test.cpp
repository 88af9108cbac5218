#include "intake/trace.h"

#include <gtest/gtest.h>

#include <random>

#include "intake/command_line.h"
#include "intake/dispatch.h"
#include "intake/trace_masking.h"
#include "intake/utf8.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/fake_trace_output.h"
#include "tests/fakes/traced_fakes.h"
#include "tests/intake/secret_requests.h"

namespace zyp::intake {
namespace {

using testing::ByteSource;
using testing::HoldsSecret;

TEST(TraceMasking, CookieListsKeepTheirNamesAndLoseTheirValues) {
  const struct {
    std::u16string list, masked;
  } cases[] = {
      {u"id=42; lang=en", u"id=***; lang=***"},
      {u"lang=en; theme = dark;size=10; LANG=de; flag; note=", u"lang=***; theme =***; size=***; LANG=***; ***; note="},
      {u"  a=b=c ;;  ; =x", u"a=***; =***"},
      {u"", u""},
      {u"bare-secret", u"***"},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskCookieList(c.list), c.masked) << std::string(c.list.begin(), c.list.end());
  EXPECT_EQ(CookieNames(u"a=1; flag; =x; B=; c=3"), (std::vector<std::u16string>{u"a", u"B", u"c"}));
}

TEST(TraceMasking, CommandLineKeepsEverythingButTheCookieValuesWhereverTheQuotesStand) {
  const struct {
    std::u16string raw, masked;
  } cases[] = {
      {u"p.exe http://a/ \"cookielist=id=42; s=x\" linktext=t",
       u"p.exe http://a/ \"cookielist=id=***; s=***\" linktext=t"},
      {u"p.exe a CookieList=id=42", u"p.exe a \"CookieList=id=***\""},
      {u"p.exe a cook\"ie\"list=id=\"4 2\"", u"p.exe a \"cookielist=id=***\""},
      {u"p.exe a \"cookielist=id=42", u"p.exe a \"cookielist=id=***\""},
      // Ignored after an empty argument, masked all the same.
      {u"p.exe a \"\"\"\" b \" cookielist=k=v\"", u"p.exe a \"\"\"\" b \" cookielist=k=v\""},
      {u"p.exe a \" \" cookielist=k=v", u"p.exe a \" \" \"cookielist=k=***\""},
      {u"p.exe a cookielist=k=v\0cookielist=k=w", u"p.exe a \"cookielist=k=***\""},
      {u"p.exe pagetitle=id=42 cookies=FF", u"p.exe pagetitle=id=42 cookies=FF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MaskCommandLine(c.raw), c.masked) << std::string(c.raw.begin(), c.raw.end());
  }
  EXPECT_EQ(MaskArgument(u"COOKIELIST=a=1"), u"COOKIELIST=a=***");
  EXPECT_EQ(MaskArgument(u"cookielist"), u"cookielist");
}

// The trace of whole runs of requests with secret cookie values, from the
// command line and from parameter files, holds none of them.
TEST(TraceMasking, NoCookieValueReachesTheTraceOfAnyRequest) {
  std::mt19937 random(20261210);
  ByteSource source([&] { return static_cast<std::uint8_t>(random()); });
  int secretsGiven = 0;
  for (int round = 0; round < 400; ++round) {
    const testing::SecretRequest request = testing::MakeSecretRequest(source);
    const CommandLine split(request.commandLine);
    ASSERT_EQ(split.Count(), request.arguments.size()) << "round " << round;
    for (std::size_t i = 0; i < request.arguments.size(); ++i)
      ASSERT_EQ(split.Argument(i + 1), request.arguments[i]) << "round " << round;
    if (HoldsSecret(request.commandLine)) ++secretsGiven;
    EXPECT_FALSE(HoldsSecret(MaskCommandLine(request.commandLine))) << "round " << round;

    const bool fromFile = round % 2 == 1;
    fakes::TracedFakes fake;
    if (round % 3 != 0) fake.desktop.windows[u"TfrmZYPQueueManager"] = 0x777;
    if (round % 4 != 0) fake.registry.AddKey(u"SOFTWARE\\Tarvesk Software\\Pelloran");
    fake.desktop.commandLine = request.commandLine;
    if (fromFile) {
      std::u16string text = u"ZYP Parameter File";
      for (const std::u16string& argument : request.arguments) text += u"\r\n" + argument;
      fake.files.AddFile(u"C:\\t\\p.txt", "\xEF\xBB\xBF" + ToUtf8(text));
      fake.desktop.commandLine = u"p.exe C:\\t\\p.txt";
    }
    const Delivery delivery = Dispatch(fake.services);
    fake.trace.Exit(ExitCodeFor(delivery, PipeProgress::Read, false));
    EXPECT_FALSE(HoldsSecret(fake.output.text)) << "round " << round << ":\n" << fake.output.text;
    EXPECT_NE(fake.output.text.find("\"step\":\"fields\""), std::string::npos) << fake.output.text;
  }
  EXPECT_GT(secretsGiven, 200);
}

TEST(Trace, AnAddressRequestShowsEveryStepWithoutCookieValues) {
  fakes::TracedFakes fake;
  fake.desktop.windows[u"TfrmZYPQueueManager"] = 0x777;
  fake.registry.AddKey(u"SOFTWARE\\Tarvesk Software\\Pelloran");
  fake.desktop.commandLine = u"p.exe http://www.example.com/f.zip \"cookielist=id=s3cr3t; lang=en\" cookies=FF agent=A";
  fake.trace.Exit(ExitCodeFor(Dispatch(fake.services), PipeProgress::Read, false));
  // The cookie folder is made when the store starts, before the request; an
  // address is never looked up as a file.
  const std::vector<std::string> expected = {
      "file",     "file",     "file",   "arrived", "window",       "request",    "arguments",     "file", "file",
      "registry", "registry", "fields", "window",  "pipe_connect", "pipe_write", "close_request", "exit"};
  EXPECT_EQ(fake.Steps(), expected) << fake.output.text;
  const std::string& text = fake.output.text;
  EXPECT_EQ(text.find("s3cr3t"), std::string::npos);
  EXPECT_EQ(text.find("=en"), std::string::npos);
  EXPECT_NE(text.find("\"command_line\":\"p.exe http://www.example.com/f.zip \\\"cookielist=id=***; lang=***\\\" "
                      "cookies=FF agent=A\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"cookie_names\":[\"id\",\"lang\"]"), std::string::npos) << text;
  EXPECT_NE(text.find("\"op\":\"create\",\"path\":\"C:\\\\Temp\\\\ZYP\\\\cookies\\\\example.com.dat\",\"ok\":true"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"op\":\"write\",\"value\":\"ZYPAgentFF\",\"ok\":true"), std::string::npos) << text;
  EXPECT_NE(text.find("\"step\":\"pipe_write\",\"bytes\":35,\"queued\":true"), std::string::npos) << text;
  EXPECT_NE(text.find("\"step\":\"exit\",\"code\":0,\"reason\":\"delivered\"}"), std::string::npos) << text;
  EXPECT_NE(text.find("{\"t_ms\":0,\"time\":\"2026-12-10T13:44:46.123Z\",\"pid\":4711,\"step\":\"arrived\""),
            std::string::npos);
}

TEST(Trace, ElevatedManagersAreToldApartInTheExitLine) {
  {
    fakes::TracedFakes fake;  // the window refuses the post
    fake.desktop.windows[u"TfrmZYPQueueManager"] = 0x777;
    fake.desktop.postError = 5;
    fake.desktop.commandLine = u"p.exe START";
    const int code = ExitCodeFor(Dispatch(fake.services), PipeProgress::Incomplete, false);
    EXPECT_EQ(code, 2);
    fake.trace.Exit(code);
    EXPECT_NE(fake.output.text.find("\"step\":\"post\",\"message\":49443,\"wparam\":101,\"lparam\":1,\"ok\":false,"
                                    "\"error\":5"),
              std::string::npos)
        << fake.output.text;
    EXPECT_NE(fake.output.text.find("\"code\":2,\"reason\":\"not delivered\",\"cause\":\"the queue manager's window "
                                    "refused the control message: access denied"),
              std::string::npos)
        << fake.output.text;
  }
  {
    fakes::FakeTraceOutput output;  // the pipe refuses the client
    Trace trace(output);
    TracePipeAttempt(trace, 5, 0);
    trace.Exit(2);
    EXPECT_NE(output.text.find("\"step\":\"pipe_attempt\",\"error\":5}"), std::string::npos) << output.text;
    EXPECT_NE(output.text.find("\"cause\":\"the queue manager's pipe refused this client: access denied"),
              std::string::npos)
        << output.text;
  }
  {
    fakes::FakeTraceOutput output;  // a cause is no reason once delivered
    Trace trace(output);
    TracePipeAttempt(trace, 231, 0);
    TracePipeAttempt(trace, 0, 4242);
    trace.Exit(0);
    EXPECT_NE(output.text.find("\"step\":\"pipe_attempt\",\"error\":0,\"server_pid\":4242}"), std::string::npos);
    EXPECT_EQ(output.text.find("cause"), std::string::npos) << output.text;
  }
}

TEST(Trace, OffWritesNothingAndBuildsNothing) {
  Trace trace;
  bool filled = false;
  trace.Step("step", [&](TraceLine&) { filled = true; });
  trace.NoteCause("x");
  trace.Exit(2);
  EXPECT_FALSE(trace.On());
  EXPECT_FALSE(filled);

  fakes::FakeServices fake;  // the services as the program hands them over without ZYP_TRACE
  fake.desktop.commandLine = u"p.exe http://a/ \"cookielist=a=1\"";
  Dispatch(fake.services);
  EXPECT_FALSE(fake.trace.On());
}

TEST(Trace, LinesAreJsonAndTheRunIsBounded) {
  fakes::FakeTraceOutput output;
  Trace trace(output);
  output.nowMs += 25;
  trace.Step("odd", [](TraceLine& line) {
    line.Text("text", u"q\" b\\ \x01\n\u00e9\U0001F600\xD800!").Word("word", "w").Number("n", -3).Flag("f", false);
  });
  EXPECT_EQ(output.text,
            "{\"t_ms\":25,\"time\":\"2026-12-10T13:44:46.123Z\",\"pid\":4711,\"step\":\"odd\",\"text\":\"q\\\" b\\\\ "
            "\\u0001\\n\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD!\",\"word\":\"w\",\"n\":-3,\"f\":false}\n");

  output.text.clear();
  const std::u16string longText(TraceLine::kTextLimitUnits + 10, u'x');
  trace.Step("long", [&](TraceLine& line) { line.Text("text", longText); });
  EXPECT_NE(output.text.find(std::string(TraceLine::kTextLimitUnits, 'x') + "\xE2\x80\xA6[+10]\""), std::string::npos);

  // Each line at its limit, and the run at its own: the limit is noted once,
  // and the exit line still comes.
  const std::vector<std::u16string> many(1000, std::u16string(1000, u'y'));
  for (int i = 0; i < 40; ++i) trace.Step("big", [&](TraceLine& line) { line.Texts("items", many); });
  trace.Exit(0);
  EXPECT_LE(output.text.size(), Trace::kRunLimitBytes);
  const std::size_t limitLine = output.text.find("\"step\":\"trace_limit\"");
  EXPECT_NE(limitLine, std::string::npos);
  EXPECT_EQ(output.text.find("\"step\":\"trace_limit\"", limitLine + 1), std::string::npos);
  EXPECT_NE(output.text.find("\"step\":\"exit\",\"code\":0"), std::string::npos);
  std::size_t longest = 0;
  for (std::size_t begin = 0, end; (end = output.text.find('\n', begin)) != std::string::npos; begin = end + 1)
    longest = std::max(longest, end - begin);
  EXPECT_LE(longest, TraceLine::kLineLimitBytes + 256);
}

}  // namespace
}  // namespace zyp::intake
