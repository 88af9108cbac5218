// The examples of docs/protocol.md, read from the guide itself and checked
// against the code: how command lines split, cookie file names, merged
// cookie lists, control packets and the receiving rule, pipe messages and
// their bytes, and the programs started. A guide that says something the
// code does not do fails here, naming the guide's line.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "companions/message_assembly.h"
#include "intake/command_line.h"
#include "intake/dispatch.h"
#include "intake/utf8.h"
#include "messaging/browser_request.h"
#include "messaging/host_registration.h"
#include "messaging/host_reply.h"
#include "messaging/program_input.h"
#include "pipes/framing.h"
#include "tests/docs/guide_examples.h"
#include "tests/fakes/fake_services.h"

namespace zyp::docs {
namespace {

constexpr char kGuidePath[] = "protocol.md";  // copied beside the test by the build
constexpr char16_t kProgram[] = u"\"C:\\Program Files\\ZYP\\ZYPQueueAddURL.exe\" ";
constexpr char16_t kProgramFolder[] = u"C:\\Program Files\\ZYP\\";
constexpr char16_t kCookieFolder[] = u"C:\\Temp\\ZYP\\cookies\\";

const std::vector<GuideExample>& Examples() {
  static const std::vector<GuideExample> examples = [] {
    std::ifstream file(kGuidePath, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open protocol.md in the test's working folder");
    std::ostringstream text;
    text << file.rdbuf();
    return ReadGuideExamples(text.str());
  }();
  return examples;
}

// The example of that name, which must exist and hold something.
const GuideExample& Example(std::string_view name) {
  for (const GuideExample& example : Examples())
    if (example.name == name) {
      if (example.rows.empty() && example.blockLines.empty())
        throw std::runtime_error("example \"" + std::string(name) + "\" is empty");
      return example;
    }
  throw std::runtime_error("the guide has no example \"" + std::string(name) + "\"");
}

std::string Where(const Row& row) { return "docs/protocol.md line " + std::to_string(row.line); }

std::u16string U16(std::string_view utf8) { return intake::FromUtf8(utf8); }
std::string Narrow(const std::u16string& text) { return intake::ToUtf8(text); }

// A cell of one code span: its text. Anything else fails the row.
std::string Code(const Cell& cell) {
  if (cell.size() != 1 || !cell[0].code) {
    ADD_FAILURE() << "expected one `code` value in the cell";
    return {};
  }
  return cell[0].text;
}

bool Says(const Cell& cell, std::string_view word) { return cell.size() == 1 && !cell[0].code && cell[0].text == word; }

// Every code span of the cell, or nothing for "(none)".
std::vector<std::string> CodeList(const Cell& cell) {
  std::vector<std::string> values;
  if (Says(cell, "(none)")) return values;
  for (const Token& token : cell) {
    EXPECT_TRUE(token.code) << "unexpected word \"" << token.text << "\"";
    values.push_back(token.text);
  }
  return values;
}

std::vector<std::uint8_t> HexBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::istringstream words{std::string(text)};
  std::string word;
  while (words >> word && word.size() == 2 && std::isxdigit(static_cast<unsigned char>(word[0])) &&
         std::isxdigit(static_cast<unsigned char>(word[1])))
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(word, nullptr, 16)));
  return bytes;
}

// The text of a fenced block's line after "label:".
std::string BlockValue(const GuideExample& example, std::string_view label) {
  for (const std::string& line : example.blockLines)
    if (line.starts_with(label) && line.size() > label.size() && line[label.size()] == ':')
      return line.substr(label.size() + 1);
  ADD_FAILURE() << "example \"" << example.name << "\" has no line \"" << label << ":\"";
  return {};
}

// A whole request run against fake services: what it wrote to the pipe,
// posted and started.
struct RequestRun {
  explicit RequestRun(const std::string& commandLine, bool managerRunning) {
    if (managerRunning) fake.desktop.windows[u"TfrmZYPQueueManager"] = 0x777;
    fake.desktop.commandLine = kProgram + U16(commandLine);
    intake::Dispatch(fake.services);
  }
  fakes::FakeServices fake;
};

TEST(ProtocolGuide, EveryExampleIsChecked) {
  const std::set<std::string> checked = {"command-lines",  "cookie-file-names", "cookie-merge",  "control-packets",
                                         "receiving-rule", "pipe-messages",     "message-bytes", "started-programs",
                                         "host-ids",       "host-requests",     "host-outcomes", "host-refusals",
                                         "host-manifest"};
  std::set<std::string> found;
  for (const GuideExample& example : Examples()) {
    EXPECT_TRUE(checked.count(example.name))
        << "no test checks the example \"" << example.name << "\" at line " << example.line;
    EXPECT_TRUE(found.insert(example.name).second) << "two examples named \"" << example.name << "\"";
  }
  for (const std::string& name : checked) EXPECT_TRUE(found.count(name)) << "example \"" << name << "\" is gone";
}

TEST(ProtocolGuide, CommandLinesSplitAsShown) {
  for (const Row& row : Example("command-lines").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 3u);
    const intake::CommandLine commandLine(kProgram + U16(Code(row.cells[0])));
    std::vector<std::string> arguments;
    for (std::size_t i = 1; i <= commandLine.Count(); ++i) arguments.push_back(Narrow(commandLine.Argument(i)));
    EXPECT_EQ(arguments, CodeList(row.cells[1]));
    const char* const kinds[] = {"control", "list", "address"};
    const intake::RequestKind kind = intake::ClassifyFirstArgument(commandLine.Argument(1));
    EXPECT_TRUE(Says(row.cells[2], kinds[static_cast<int>(kind)]))
        << "the code makes it a " << kinds[static_cast<int>(kind)] << " request";
  }
}

TEST(ProtocolGuide, CookieFileNamesAreTheOnesWritten) {
  for (const Row& row : Example("cookie-file-names").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 2u);
    fakes::FakeFiles files;
    fakes::FakeLocale locale;
    cookies::CookieStore store(files, locale);
    store.WriteCookieFile(U16(Code(row.cells[0])), u"id=42");
    std::vector<std::string> written;
    for (const std::u16string& path : files.FilePaths()) written.push_back(Narrow(path.substr(path.rfind(u'\\') + 1)));
    if (Says(row.cells[1], "(no file)"))
      EXPECT_EQ(written, std::vector<std::string>{});
    else
      EXPECT_EQ(written, std::vector<std::string>{Code(row.cells[1])});
  }
}

TEST(ProtocolGuide, CookieListsMergeAsShown) {
  const std::u16string address = u"http://www.example.com/";
  const std::u16string path = std::u16string(kCookieFolder) + u"example.com.dat";
  for (const Row& row : Example("cookie-merge").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 2u);
    fakes::FakeFiles files;
    fakes::FakeLocale locale;  // code page 1252
    cookies::CookieStore store(files, locale);
    files.AddFile(path, "old=1\r\n");
    const std::u16string list = Says(row.cells[0], "(empty)") ? u"" : U16(Code(row.cells[0]));
    store.WriteCookieFile(address, list);
    if (Says(row.cells[1], "(file deleted)")) {
      EXPECT_FALSE(files.HasFile(path));
      continue;
    }
    ASSERT_TRUE(files.HasFile(path));
    const std::string line = Says(row.cells[1], "(empty line)") ? "" : locale.ToCodePage(1252, U16(Code(row.cells[1])));
    EXPECT_EQ(files.Content(path), line + "\r\n");
  }
}

TEST(ProtocolGuide, ControlPacketsHaveTheBytesShown) {
  const GuideExample& example = Example("control-packets");
  const auto start = pipes::MakeControlPacket(pipes::kStartMarker);
  const auto end = pipes::MakeControlPacket(pipes::kEndMarker);
  EXPECT_EQ(HexBytes(BlockValue(example, "start packet")), std::vector<std::uint8_t>(start.begin(), start.end()));
  EXPECT_EQ(HexBytes(BlockValue(example, "end packet")), std::vector<std::uint8_t>(end.begin(), end.end()));
}

TEST(ProtocolGuide, ReceivingRuleDeliversWhatIsShown) {
  constexpr std::uint32_t kOtherMarker = 0x58585858;  // "XXXX"
  for (const Row& row : Example("receiving-rule").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 2u);
    std::vector<std::string> delivered;
    companions::MessageAssembly assembly;
    for (const Token& token : row.cells[0]) {
      std::string message = token.text;
      if (!token.code) {
        const std::uint32_t marker = token.text == "START" ? pipes::kStartMarker
                                     : token.text == "END" ? pipes::kEndMarker
                                                           : kOtherMarker;
        EXPECT_TRUE(token.text == "START" || token.text == "END" || token.text == "OTHER") << token.text;
        const auto packet = pipes::MakeControlPacket(marker);
        message.assign(packet.begin(), packet.end());
      }
      const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
      if (const auto done = assembly.Apply(pipes::ClassifyMessage(bytes, assembly.IsOpen()), bytes))
        delivered.emplace_back(done->bytes.begin(), done->bytes.end());
    }
    EXPECT_EQ(delivered, CodeList(row.cells[1]));
  }
}

TEST(ProtocolGuide, CommandLinesSendThePipeMessagesShown) {
  for (const Row& row : Example("pipe-messages").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 2u);
    const RequestRun run(Code(row.cells[0]), true);
    EXPECT_EQ(run.fake.pipe.writes, std::vector<std::string>{Code(row.cells[1])});
  }
}

TEST(ProtocolGuide, MessageHasTheBytesShown) {
  const GuideExample& example = Example("message-bytes");
  std::string commandLine = BlockValue(example, "command line");
  commandLine.erase(0, commandLine.find_first_not_of(' '));
  const std::vector<std::uint8_t> bytes = HexBytes(BlockValue(example, "pipe message"));
  ASSERT_FALSE(bytes.empty());
  const RequestRun run(commandLine, true);
  ASSERT_EQ(run.fake.pipe.writes.size(), 1u);
  EXPECT_EQ(run.fake.pipe.writes[0], std::string(bytes.begin(), bytes.end()));
}

TEST(ProtocolGuide, AbsentManagerMeansTheProgramsShownAreStarted) {
  for (const Row& row : Example("started-programs").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 2u);
    const RequestRun run(Code(row.cells[0]), false);
    std::vector<std::string> started;
    for (const fakes::StartedProgram& program : run.fake.desktop.started) {
      ASSERT_TRUE(program.file.starts_with(kProgramFolder)) << Narrow(program.file);
      started.push_back(Narrow(program.file.substr(std::size(kProgramFolder) - 1) + u" " + program.parameters));
    }
    EXPECT_EQ(started, CodeList(row.cells[1]));
  }
}

TEST(ProtocolGuide, HostIdsComeBackAsShown) {
  for (const Row& row : Example("host-ids").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 2u);
    const messaging::ParsedRequest parsed = messaging::ParseRequest(Code(row.cells[0]));
    ASSERT_TRUE(parsed.request) << parsed.refusal;
    const std::string reply = messaging::StatusReplyText(parsed.id, false, "1.0.0");
    EXPECT_TRUE(reply.starts_with("{\"id\":" + Code(row.cells[1]) + ",")) << reply;
  }
}

TEST(ProtocolGuide, HostRequestsGiveTheProgramTheArgumentsShown) {
  for (const Row& row : Example("host-requests").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 2u);
    const messaging::ParsedRequest parsed = messaging::ParseRequest(Code(row.cells[0]));
    ASSERT_TRUE(parsed.request) << parsed.refusal;
    std::vector<std::string> arguments;
    if (parsed.request->type == messaging::RequestType::Queue)
      arguments.push_back(Narrow(messaging::ControlWord(*parsed.request)));
    else
      for (const std::u16string& line : messaging::ArgumentLines(*parsed.request)) arguments.push_back(Narrow(line));
    EXPECT_EQ(arguments, CodeList(row.cells[1]));
  }
}

TEST(ProtocolGuide, HostOutcomesFollowTheExitCodeAsShown) {
  for (const Row& row : Example("host-outcomes").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 3u);
    const auto exitCode = static_cast<std::uint32_t>(std::stoul(Code(row.cells[0])));
    EXPECT_EQ(std::string(messaging::OutcomeName(messaging::OutcomeForExitCode(exitCode))), Code(row.cells[1]));
  }
}

TEST(ProtocolGuide, HostRefusalsNameTheMemberShown) {
  for (const Row& row : Example("host-refusals").rows) {
    SCOPED_TRACE(Where(row));
    ASSERT_EQ(row.cells.size(), 2u);
    const messaging::ParsedRequest parsed = messaging::ParseRequest(Code(row.cells[0]));
    EXPECT_FALSE(parsed.request);
    EXPECT_TRUE(parsed.refusal.starts_with(Code(row.cells[1]))) << parsed.refusal;
  }
}

TEST(ProtocolGuide, HostManifestIsWrittenAsShown) {
  std::string shown;
  for (const std::string& line : Example("host-manifest").blockLines) shown += line + "\n";
  EXPECT_EQ(messaging::ManifestText(messaging::BrowserFamily::Chromium,
                                    std::u16string(kProgramFolder) + u"ZYPBrowserHost.exe",
                                    {std::u16string(messaging::kDefaultChromiumExtensionId)}),
            shown);
}

}  // namespace
}  // namespace zyp::docs
