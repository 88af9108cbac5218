#include "intake/browser_settings.h"

#include <gtest/gtest.h>

#include "cookies/cookie_store.h"
#include "intake/argument_list.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_locale.h"
#include "tests/fakes/fake_registry.h"

namespace zyp::intake {
namespace {

constexpr char16_t kKey[] = u"SOFTWARE\\Tarvesk Software\\Pelloran";
constexpr char16_t kDefault[] = u"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

class BrowserSettingsTest : public ::testing::Test {
 protected:
  RequestFields Parse(const ArgumentList& arguments) { return ParseArgumentList(arguments, {cookies, registry}); }
  std::optional<std::u16string> Stored(const std::u16string& name) { return registry.GetString(kKey, name); }

  fakes::FakeFiles files;
  fakes::FakeLocale locale;
  fakes::FakeRegistry registry;
  cookies::CookieStore cookies{files, locale};
};

TEST_F(BrowserSettingsTest, AgentStoredForTheBrowserTag) {
  const struct {
    const char* name;
    ArgumentList arguments;
    std::optional<std::u16string> before;  // "ZYPAgent" + tag before the request
    std::u16string valueName;
    std::u16string after;
  } cases[] = {
      {"given agent", {u"a", u"cookies=IE", u"agent= Opera/9 "}, u"Old", u"ZYPAgentIE", u"Opera/9"},
      {"stored agent kept", {u"a", u"cookies=IE"}, u"Old", u"ZYPAgentIE", u"Old"},
      {"default when none stored", {u"a", u"cookies=IE"}, std::nullopt, u"ZYPAgentIE", kDefault},
      {"default when stored empty", {u"a", u"cookies=IE"}, u"", u"ZYPAgentIE", kDefault},
      {"FF with loadfromregistry takes the stored agent",
       {u"a", u"cookies=FF", u"agent=New", u"loadfromregistry"},
       u"Old",
       u"ZYPAgentFF",
       u"Old"},
      {"FF with loadfromregistry and none stored",
       {u"a", u"cookies=FF", u"agent=New", u"loadfromregistry"},
       std::nullopt,
       u"ZYPAgentFF",
       kDefault},
      {"ff is not FF for loading",
       {u"a", u"cookies=ff", u"agent=New", u"loadfromregistry"},
       u"Old",
       u"ZYPAgentFF",
       u"New"},
  };
  for (const auto& c : cases) {
    registry = fakes::FakeRegistry{};
    registry.AddKey(kKey);
    if (c.before) registry.SetString(kKey, c.valueName, *c.before);
    Parse(c.arguments);
    EXPECT_EQ(Stored(c.valueName), c.after) << c.name;
    EXPECT_EQ(registry.openKeys, 0) << c.name;
  }
}

TEST_F(BrowserSettingsTest, EmptyTagReadsTheBareValueAndWritesNothing) {
  registry.AddKey(kKey);
  registry.SetString(kKey, u"ZYPAgent", u"Bare");
  RequestFields fields;
  ReadAgentSetting(registry, fields);
  EXPECT_EQ(fields.UserAgent, u"Bare");
  Parse({u"a"});
  EXPECT_EQ(registry.keys.begin()->second.size(), 1u);
}

TEST_F(BrowserSettingsTest, MissingKeyIsNeverCreated) {
  const RequestFields f = Parse({u"a", u"cookies=IE", u"agent=X", u"pagetitle=P", u"linktext=L", u"loadfromregistry"});
  EXPECT_TRUE(registry.keys.empty());
  EXPECT_EQ(f.PageTitle, u"");  // loaded from a key that is not there
  EXPECT_EQ(f.LinkText, u"");
  EXPECT_EQ(f.UserAgent, u"X");
  EXPECT_GT(registry.opens, 0);
}

TEST_F(BrowserSettingsTest, PendingTextsAreReadOnceThenDeleted) {
  registry.AddKey(kKey);
  registry.SetString(kKey, u"ZYPPageTitle", u"Title");
  registry.SetString(kKey, u"ZYPLinkText", u"Link");
  RequestFields first = Parse({u"a", u"loadfromregistry", u"pagetitle=arg"});
  EXPECT_EQ(first.PageTitle, u"Title");
  EXPECT_EQ(first.ExtraText, u"Link");
  EXPECT_FALSE(Stored(u"ZYPPageTitle"));
  EXPECT_FALSE(Stored(u"ZYPLinkText"));
  RequestFields second = Parse({u"a", u"loadfromregistry", u"pagetitle=arg"});
  EXPECT_EQ(second.PageTitle, u"");
  EXPECT_EQ(second.ExtraText, u"");
}

TEST_F(BrowserSettingsTest, ValuesAreCutAtTheirFirstNulAndNotExpanded) {
  registry.AddKey(kKey);
  registry.SetRaw(kKey, u"ZYPPageTitle", {2, {'%', 0, 'P', 0, '%', 0, 0, 0, 'x', 0}});
  registry.SetRaw(kKey, u"ZYPLinkText", {1, {}});
  const RequestFields f = Parse({u"a", u"loadfromregistry"});
  EXPECT_EQ(f.PageTitle, u"%P%");
  EXPECT_EQ(f.LinkText, u"");
}

TEST_F(BrowserSettingsTest, WrongTypeEndsTheLoadAndKeepsWhatCameBefore) {
  registry.AddKey(kKey);
  registry.SetRaw(kKey, u"ZYPPageTitle", {4, {1, 0, 0, 0}});  // a number
  registry.SetString(kKey, u"ZYPLinkText", u"Link");
  registry.SetString(kKey, u"ZYPAgentFF", u"Stored");
  const RequestFields f = Parse({u"a", u"cookies=FF", u"pagetitle=P", u"linktext=L", u"loadfromregistry"});
  EXPECT_EQ(f.UserAgent, u"Stored");  // set before the failing read
  EXPECT_EQ(f.PageTitle, u"P");
  EXPECT_EQ(f.LinkText, u"L");
  EXPECT_TRUE(Stored(u"ZYPLinkText"));  // no deletion after the failure
  EXPECT_EQ(registry.openKeys, 0);
}

TEST_F(BrowserSettingsTest, RefusedWriteIsSilent) {
  registry.AddKey(kKey);
  registry.refuseWrites = true;
  EXPECT_NO_THROW(Parse({u"a", u"cookies=IE", u"agent=X"}));
  EXPECT_FALSE(Stored(u"ZYPAgentIE"));
  EXPECT_EQ(registry.openKeys, 0);
}

}  // namespace
}  // namespace zyp::intake
