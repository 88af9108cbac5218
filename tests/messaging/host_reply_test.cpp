#include "messaging/host_reply.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "messaging/native_framing.h"

namespace zyp::messaging {
namespace {

TEST(HostReply, OutcomeFollowsTheExitCode) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "delivered"}, {1, "failed"}, {2, "not-delivered"}, {3, "handed-over"}, {4, "failed"}, {0xC0000005, "failed"},
  };
  for (const auto& [exitCode, outcome] : cases) {
    const auto reply =
        nlohmann::json::parse(ReplyText("7", OutcomeForExitCode(exitCode), exitCode, ExitCodeMessage(exitCode)));
    EXPECT_EQ(reply["outcome"], outcome) << exitCode;
    EXPECT_EQ(reply["exitCode"], exitCode);
    EXPECT_EQ(reply["id"], 7);
  }
}

TEST(HostReply, LeavesOutWhatThereIsNot) {
  const auto reply = nlohmann::json::parse(ReplyText("", Outcome::Refused, std::nullopt, "url: missing"));
  EXPECT_EQ(reply, nlohmann::json::parse(R"({"outcome":"refused","message":"url: missing"})"));
  EXPECT_EQ(nlohmann::json::parse(StatusReplyText(R"("s")", true, "1.0.0")),
            nlohmann::json::parse(R"({"id":"s","manager":"running","version":"1.0.0"})"));
}

TEST(HostReply, CountsTheCookiesLeftOutOnlyWhenThereAreSome) {
  EXPECT_FALSE(nlohmann::json::parse(ReplyText("1", Outcome::Delivered, 0, "delivered")).contains("cookiesLeftOut"));
  EXPECT_EQ(CookiesLeftOutMessage(0, false), "");
  const auto reply =
      nlohmann::json::parse(ReplyText("1", Outcome::Delivered, 0, "delivered" + CookiesLeftOutMessage(2, false), 2));
  EXPECT_EQ(reply["cookiesLeftOut"], 2);
  const std::string message = reply["message"];
  EXPECT_EQ(message.rfind("delivered; 2 of the site's cookies were left out: each holds a control character", 0), 0u)
      << message;
  EXPECT_EQ(message.find("cookie file"), std::string::npos) << "a list went: the file holds it";
  const std::string kept = CookiesLeftOutMessage(1, true);
  EXPECT_EQ(kept.rfind("; 1 of the site's cookies was left out: it holds", 0), 0u) << kept;
  EXPECT_NE(kept.find("the site's cookie file stays as it was"), std::string::npos) << kept;
}

TEST(HostReply, ALongMessageIsCutToWhatTheBrowsersTake) {
  // Each control character takes six bytes in the reply, each "é" two.
  for (const std::string& unit : {std::string("\x01"), std::string("\xC3\xA9"), std::string("a")}) {
    std::string message;
    while (message.size() < 3 * kMaxReplySize) message += unit;
    const std::string reply = ReplyText(R"("id")", Outcome::Failed, std::nullopt, message);
    EXPECT_LE(reply.size(), kMaxReplySize);
    EXPECT_GT(reply.size(), kMaxReplySize - 16);
    const auto parsed = nlohmann::json::parse(reply);  // still whole UTF-8 and JSON
    EXPECT_EQ(parsed["id"], "id");
  }
}

}  // namespace
}  // namespace zyp::messaging
