#include <gtest/gtest.h>

#include "installer/WorkstationFacts.h"
#include "tests/support/RunFixture.h"

namespace zelmora::testing {
namespace {

class Facts : public RunFixture {};

TEST(TrimEdges, RemovesOnlyUnitsUpToSpaceAtEitherEnd) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"", u""},
      {u"abc", u"abc"},
      {u"  a b  ", u"a b"},
      {std::u16string(u"\0\t\r\n x\x1F ", 8), u"x"},
      {u" \t ", u""},
      {u"\u00A0x\u00A0", u"\u00A0x\u00A0"},  // no-break space is not trimmed
      {u"\u007Fx", u"\u007Fx"},              // nor is DEL
      {u"\u3000x", u"\u3000x"},              // nor the ideographic space
      {u"a\tb", u"a\tb"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(TrimEdges(input), expected);
}

TEST(AsciiUpperCase, MapsOnlyAToZ) {
  EXPECT_EQ(AsciiUpperCase(u"upsCtrl-09_z{`@"), u"UPSCTRL-09_Z{`@");
  EXPECT_EQ(AsciiUpperCase(u"\u00E9\u00DF\u03B1\u0430\uFF55"), u"\u00E9\u00DF\u03B1\u0430\uFF55");
}

TEST(IsDesignatedAccount, ComparesExactlyAfterAsciiUpperCasing) {
  EXPECT_TRUE(IsDesignatedAccount(u"UPSCTRL"));
  EXPECT_TRUE(IsDesignatedAccount(u"upsctrl"));
  for (const std::u16string_view name :
       {u"", u" UPSCTRL", u"UPSCTRL ", u"UPS CTRL", u"UPSCTRL2", u"UPSCTR", u"\u0055PSCTR\u04BA"}) {
    EXPECT_FALSE(IsDesignatedAccount(name));
  }
}

TEST_F(Facts, EnvironmentValueReadsLongValuesWithASecondCallIntoExactStorage) {
  struct Case {
    std::size_t length;
    int calls;
  };
  for (const Case c : {Case{0, 1}, Case{1, 1}, Case{1023, 1}, Case{1024, 2}, Case{7000, 2}}) {
    ScriptedPlatform p;
    platform::ScopedSystem system(p);
    std::u16string value;
    for (std::size_t i = 0; i < c.length; ++i)
      value.push_back(static_cast<char16_t>(u'a' + i % 26));
    p.environment[u"TEMP"] = value;
    EXPECT_EQ(EnvironmentValue(u"TEMP"), value);
    EXPECT_EQ(p.Log().size(), static_cast<std::size_t>(c.calls)) << c.length;
  }
}

TEST_F(Facts, EnvironmentValueTakesWhatTheSecondReadOfALongValueFinds) {
  const std::u16string first(2000, u'a');
  struct Case {
    const char* what;
    std::optional<std::u16string> second;  // the value the second read meets; none: unset
    bool secondFails;
    std::u16string expected;
    std::size_t calls;
  };
  const Case cases[] = {
      {"unchanged", first, false, first, 2},
      {"shorter", std::u16string(1500, u'b'), false, std::u16string(1500, u'b'), 2},
      {"short", u"C:\\Temp", false, u"C:\\Temp", 2},
      {"unset", std::nullopt, false, u"", 2},
      {"the read fails", first, true, u"", 2},
      {"longer", std::u16string(3000, u'c'), false, std::u16string(3000, u'c'), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPlatform p;
    platform::ScopedSystem system(p);
    p.environment[u"TEMP"] = first;
    int reads = 0;
    p.onCall = [&](platform::Call call) {
      if (call != platform::Call::GetEnvironmentVariableW || ++reads != 2) return;
      if (c.second) {
        p.environment[u"TEMP"] = *c.second;
      } else {
        p.environment.erase(u"TEMP");
      }
    };
    if (c.secondFails) p.FailCall(platform::Call::GetEnvironmentVariableW, 2, 8);
    EXPECT_EQ(EnvironmentValue(u"TEMP"), c.expected);
    EXPECT_EQ(p.Log().size(), c.calls);
  }
}

TEST_F(Facts, EnvironmentValueKeepsEveryUnitAsStored) {
  for (const std::u16string value :
       {u" C:\\Temp\\ ", u"%TEMP%", u"\"q\"\r\n", u"\u05D0\U0001F600"}) {
    platform.environment[u"TEMP"] = value;
    EXPECT_EQ(EnvironmentValue(u"TEMP"), value);
  }
  EXPECT_EQ(EnvironmentValue(u"UNSET"), u"");
}

TEST_F(Facts, CurrentUserNameIsTrimmedAndEmptyWhenItCannotBeRead) {
  const std::pair<std::optional<std::u16string>, std::u16string> cases[] = {
      {u" jdoe\t", u"jdoe"},
      {std::u16string(255, u'n'), std::u16string(255, u'n')},  // fits with its NUL
      {std::u16string(256, u'n'), u""},                        // does not: never truncated
      {std::nullopt, u""},
  };
  for (const auto& [name, expected] : cases) {
    platform.userName = name;
    EXPECT_EQ(CurrentUserName(), expected);
  }
}

}  // namespace
}  // namespace zelmora::testing
