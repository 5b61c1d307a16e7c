#include "platform/common/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelmora::platform {
namespace {

using Arguments = std::vector<std::u16string>;

// Lines and the arguments the C runtime's main receives for them.
TEST(CommandLine, SplitsAsTheRuntimeDoes) {
  const struct {
    std::u16string_view line;
    Arguments arguments;
  } cases[] = {
      {u"", {u""}},
      {u"x.exe", {u"x.exe"}},
      {u"\"C:\\Program Files\\z.exe\" /reports \\\\srv\\r$",
       {u"C:\\Program Files\\z.exe", u"/reports", u"\\\\srv\\r$"}},
      // The program name knows no escapes, ends at its closing quote, and an argument may
      // follow it with no space.
      {u"\"C:\\a\\\"/uninstall", {u"C:\\a\\", u"/uninstall"}},
      {u"C:\\a\\b\\\"c d", {u"C:\\a\\b\\\"c", u"d"}},
      {u"\"unclosed name", {u"unclosed name"}},
      {u"x \t  a\t\tb  ", {u"x", u"a", u"b"}},
      {u"x \"a b c\" d e", {u"x", u"a b c", u"d", u"e"}},
      {u"x \"ab\\\"c\" \"\\\\\" d", {u"x", u"ab\"c", u"\\", u"d"}},
      {u"x a\\\\\\b d\"e f\"g h", {u"x", u"a\\\\\\b", u"de fg", u"h"}},
      {u"x a\\\\\\\"b c d", {u"x", u"a\\\"b", u"c", u"d"}},
      {u"x a\\\\\\\\\"b c\" d e", {u"x", u"a\\\\b c", u"d", u"e"}},
      // A doubled quote inside quotes is one quote, and the quotes stay open.
      {u"x a\"b\"\" c d", {u"x", u"ab\" c d"}},
      {u"x \"\" \"\"\"\"", {u"x", u"", u"\""}},
      {u"x \"open to the end", {u"x", u"open to the end"}},
      {u"x trailing\\", {u"x", u"trailing\\"}},
      {u"x /reports\"\"", {u"x", u"/reports"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SplitCommandLine(c.line), c.arguments) << std::string(c.line.begin(), c.line.end());
}

TEST(CommandLine, QuotesOnlyWhatNeedsIt) {
  const struct {
    std::u16string_view argument, quoted;
  } cases[] = {
      {u"", u"\"\""},
      {u"/reports", u"/reports"},
      {u"C:\\a\\", u"C:\\a\\"},
      {u"a b", u"\"a b\""},
      {u"a\tb", u"\"a\tb\""},
      {u"\\\\srv\\share with space\\", u"\"\\\\srv\\share with space\\\\\""},
      {u"a\"b", u"\"a\\\"b\""},
      {u"\\\"", u"\"\\\\\\\"\""},
      {u"\\\\", u"\\\\"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(QuoteArgument(c.argument), c.quoted)
        << std::string(c.argument.begin(), c.argument.end());
}

TEST(CommandLine, JoinedArgumentsSplitBackWhole) {
  const Arguments arguments = {u"",          u" ",      u"\"",       u"\\",    u"a\\\\\"b\\",
                               u"\t\"x y\"", u"\\\\\\", u"\u05d3\"", u"/?",    u"-\"\"",
                               u"end \\",    u"\\\"\\", u"\"\"\"",   u"a\"\"b"};
  Arguments split = SplitCommandLine(JoinCommandLine(u"/opt/z ora/zelmora-launch", arguments));
  EXPECT_EQ(split.front(), u"/opt/z ora/zelmora-launch");
  EXPECT_EQ(Arguments(split.begin() + 1, split.end()), arguments);
  // A quote cannot stand in a program name, and is left out.
  EXPECT_EQ(SplitCommandLine(JoinCommandLine(u"a\"b c", {})), Arguments{u"ab c"});
}

}  // namespace
}  // namespace zelmora::platform
