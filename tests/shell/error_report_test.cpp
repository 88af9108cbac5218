#include <gtest/gtest.h>

#include "platform/error.h"

namespace zyp {
namespace {

TEST(ErrorReportText, AppendsAFullStopOnlyWhereOneIsMissing) {
  const struct {
    std::u16string message, text;
  } cases[] = {
      {u"", u""},
      {u"File not found", u"File not found."},
      {u"Done.", u"Done."},
      {u"Done..", u"Done.."},
      {u"Why?", u"Why?."},
      {u"Trailing blank ", u"Trailing blank "},
      {u"Ends in a comma,", u"Ends in a comma,"},  // "," is below "."
      {u"Ends in a dash-", u"Ends in a dash-"},
      {u"Ends in a slash/", u"Ends in a slash/."},
      {u"Line\r\n", u"Line\r\n"},
      {u"\u00e9", u"\u00e9."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.message));
    EXPECT_EQ(ErrorReportText(c.message), c.text);
  }
}

}  // namespace
}  // namespace zyp
