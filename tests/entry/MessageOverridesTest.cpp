#include <gtest/gtest.h>

#include "platform/common/Utf.h"
#include "platform/scripted/ScriptedPlatform.h"
#include "registry/MessageFile.h"
#include "registry/MessageTexts.h"
#include "tests/support/RunFixture.h"

namespace zelmora {

void PrintTo(const MessageText& entry, std::ostream* os) {
  *os << entry.id << " = " << ::testing::PrintToString(entry.text);
}

namespace testing {
namespace {

using platform::Call;
using platform::ScriptedPlatform;

std::optional<std::vector<MessageText>> Read(const std::string& file) {
  return ReadMessageFile(
      std::span(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
}

TEST(MessageFile, AcceptsItsFormsAndRefusesTheWholeFileForAnyFault) {
  auto repeated = [](std::string_view piece, int times) {
    std::string text;
    while (times-- > 0) text += piece;
    return text;
  };
  const std::string alef = "\xD7\x90";  // one UTF-16 unit
  const std::string line = "65525 = a\n";
  const std::string filler = "#" + std::string(kMaxMessageFileBytes - line.size() - 2, 'x') + "\n";
  struct Case {
    std::string file;
    std::optional<std::vector<MessageText>> texts;  // nothing: refused
  };
  const Case cases[] = {
      {"", std::vector<MessageText>{}},
      {"\xEF\xBB\xBF# a comment\r\n\r\n \t\n#\n", std::vector<MessageText>{}},
      {"65525=a", {{{65525, u"a"}}}},
      {"65525 \t= \tx y \r\n65532 = 100% full\n", {{{65525, u"x y "}, {65532, u"100% full"}}}},
      {"65526 = %d\\r\\n\\t\\\\%%s\n", {{{65526, u"%d\r\n\t\\%%s"}}}},
      {"065516 = = %s%s%p%s%s", {{{65516, u"= %s%s%p%s%s"}}}},
      {"65525 = " + repeated(alef, 255), {{{65525, std::u16string(255, u'\u05D0')}}}},
      {filler + line, {{{65525, u"a"}}}},
      // Refused:
      {filler + line + "\n", std::nullopt},  // one byte over 64 KiB
      {"65525 = " + repeated(alef, 256), std::nullopt},
      {"65525 = " + repeated("\xF0\x9F\x98\x80", 128), std::nullopt},  // 256 units
      {"65525 a", std::nullopt},
      {" 65525 = a", std::nullopt},
      {"\t# a comment", std::nullopt},
      {"= a", std::nullopt},
      {"65525x = a", std::nullopt},
      {"65525 = a\n65525 = b", std::nullopt},
      {"65534 = a", std::nullopt},
      {"4294967296 = a", std::nullopt},
      {"65525 = a\\", std::nullopt},
      {"65525 = \\x", std::nullopt},
      {"65525 = a\\rb", std::nullopt},  // a carriage return without its line feed
      {"65525 = a\\r", std::nullopt},   // and with nothing after it
      {"65525 = a\\r\\\\n", std::nullopt},
      {"65525 = \xC3(", std::nullopt},
      {"# \xFF\n65525 = a", std::nullopt},
      {"65525 = \xED\xA0\x80", std::nullopt},      // an encoded surrogate
      {"65525 = \xC0\xAF", std::nullopt},          // an overlong form
      {"65525 = \xE0\x80\xAF", std::nullopt},      // an overlong form of three bytes
      {"65525 = \xF4\x90\x80\x80", std::nullopt},  // above U+10FFFF
      {"4295032821 = a", std::nullopt},            // 65525 + 2^32
      {"18446744073709617141 = a", std::nullopt},  // 65525 + 2^64
      // Control characters, raw: only line ends and tabs outside the texts.
      {"65525 = ~ \xC2\xA0\\t", {{{65525, u"~ \u00A0\t"}}}},
      {"65525 = a\x1F", std::nullopt},
      {"65525 = a\x7F", std::nullopt},
      {"65525 = a\xC2\x9F", std::nullopt},
      {"65525 = a\tb", std::nullopt},
      {"65525 = a\rb", std::nullopt},
      {std::string("\xFF\xFE"
                   "6\0"
                   "=\0"
                   "a\0",
                   8),
       std::nullopt},  // UTF-16
      {"65526 = failed", std::nullopt},
      {"65526 = %d %d", std::nullopt},
      {"65526 = %s", std::nullopt},
      {"65526 = %%d", std::nullopt},
      {"65525 = %p", std::nullopt},
      {"65516 = %s %p %s %s %s", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.file), c.texts) << c.file.substr(0, 40);
}

constexpr char16_t kExecutable[] = u"C:\\Apps\\zelmora-setup.exe";
const std::u16string kBuiltIn = u"Out of memory";

// The text that string 65525 has after the lookup on this platform.
std::u16string OutOfMemoryText(ScriptedPlatform& platform) {
  platform::ScopedSystem system(platform);
  LoadMessageOverrides();
  const std::u16string text = LoadMessage(65525);
  ReleaseMessageOverrides();
  return text;
}

TEST(MessageOverrides, DecideTheFileBySettingThenInterfaceLanguage) {
  struct Case {
    const char* what;
    std::optional<std::u16string> user, machine;  // Locales values named after the executable
    std::vector<std::u16string> languages;
    std::vector<std::u16string> files;  // tags with a file beside the executable
    std::u16string expected;            // "from <tag>", or the built-in text
    std::u16string valueName = kExecutable;
    std::string content = {}, later = {};  // the files' bytes, and theirs once reading begins
    platform::UINT oemCodePage = platform::kCodePageUtf8;
    std::u16string stem = u"C:\\Apps\\zelmora-setup";  // the executable without its ".exe"
  };
  const std::vector<std::u16string> all = {u"qa", u"qb", u"he-IL", u"he", u"en-US", u"xx"};
  const std::string a = "65525 = a\n", mixed = "65532 = \n65533 = x\n65525 = \xD7\x90";
  const std::string limit = std::string(kMaxMessageFileBytes - 11, '#') + "\n" + a;
  const std::u16string posix = u"/opt/v1.2/zelmora-setup";  // a dot in a folder, none in the name
  const Case cases[] = {
      {"per-user", u"qa", {}, {u"he-IL"}, all, u"from qa"},
      {"per-machine", {}, u"qb", {u"he-IL"}, all, u"from qb"},
      {"per-user over per-machine", u"qa", u"qb", {u"he-IL"}, all, u"from qa"},
      {"empty per-user data", u"", u"qb", {u"he-IL"}, all, kBuiltIn},
      {"empty per-machine data", {}, u"", {u"he-IL"}, all, kBuiltIn},
      {"names ignore case", u"qa", {}, {}, all, u"from qa", u"c:\\apps\\ZELMORA-SETUP.EXE"},
      {"another program's setting", u"qa", {}, {u"he"}, all, u"from he", u"C:\\zelmora-setup.exe"},
      {"interface language", {}, {}, {u"he-IL", u"en-US"}, all, u"from he-IL"},
      {"region falls back", {}, {}, {u"he-IL"}, {u"he", u"en-US"}, u"from he"},
      {"no file for the language", {}, {}, {u"he-IL"}, {u"en-US"}, kBuiltIn},
      {"no interface language", {}, {}, {}, all, kBuiltIn},
      {"a setting's tag has no file", u"qc", {}, {u"he"}, all, kBuiltIn},
      {"an invalid file", u"xx", {}, {u"he"}, all, kBuiltIn},
      {"an invalid region file", u"he-XX", {}, {}, {u"he-XX", u"he"}, kBuiltIn},
      {"a setting that is no tag", u"..\\qa", {}, {u"he"}, all, kBuiltIn},
      {"a language that is no tag", {}, {}, {u"he_IL"}, {u"he_IL", u"he"}, kBuiltIn},
      {"a digit in the first subtag", u"q1", {}, {u"he"}, {u"q1", u"he"}, kBuiltIn},
      {"a digit leading the first subtag", {}, {}, {u"1he"}, {u"1he", u"he"}, kBuiltIn},
      {"64 KiB", {}, {}, {u"he"}, {u"he"}, u"a", kExecutable, limit},
      {"over 64 KiB, then less", {}, {}, {u"he"}, {u"he"}, kBuiltIn, kExecutable, limit + "\n", a},
      {"grown since it was sized", {}, {}, {u"he"}, {u"he"}, kBuiltIn, kExecutable, a, a + "#"},
      {"OEM lacks one", {}, {}, {u"he"}, {u"he"}, kBuiltIn, kExecutable, mixed, "", 20127},
      {"POSIX path", {}, {}, {u"he"}, {u"he"}, u"from he", kExecutable, "", "", 65001, posix},
  };
  for (const Case& c : cases) {
    ScriptedPlatform platform;
    platform.modulePath = c.stem.starts_with(u"/") ? c.stem : c.stem + u".exe";
    platform.uiLanguages = c.languages;
    platform.oemCodePage = c.oemCodePage;
    for (const std::u16string& tag : c.files) {
      const bool broken = tag == u"xx" || tag.ends_with(u"-XX");
      platform.files[c.stem + u"." + tag] =
          !c.content.empty() ? c.content
          : broken           ? "65525 = broken\n1 = unknown id\n"
                             : "65525 = from " + platform::Utf16ToUtf8(tag) + "\n";
    }
    platform.onCall = [&](Call call) {
      if (call != Call::ReadFile || c.later.empty()) return;
      for (auto& file : platform.files) file.second = c.later;
    };
    for (auto [tree, value] : {std::pair{&platform.Registry(), c.user},
                               std::pair{&platform.MachineRegistry(), c.machine}}) {
      if (value) SettingsKey(*tree, u"Locales").SetValue(c.valueName, platform::kRegSz, Sz(*value));
    }
    const std::size_t handles = platform.OpenKeyHandles();
    EXPECT_EQ(OutOfMemoryText(platform), c.expected) << c.what;
    // Nothing but reading: no output, no registry change, nothing left open.
    for (const auto& record : platform.Log()) {
      EXPECT_TRUE(record.call != Call::WriteFile && record.call != Call::RegSetValueExW &&
                  record.call != Call::RegCreateKeyExW)
          << c.what << ": " << platform::CallName(record.call);
    }
    EXPECT_EQ(platform.OpenFileHandles(), 0u) << c.what;
    EXPECT_EQ(platform.OpenKeyHandles(), handles) << c.what;
  }
}

TEST(MessageOverrides, AnyCallOfTheLookupFailingOrRunningOutOfMemoryLeavesTheBuiltInTexts) {
  // The longest road: no setting, the region's file missing, the language's file read.
  auto prepared = [](ScriptedPlatform& platform) {
    platform.modulePath = kExecutable;
    platform.uiLanguages = {u"he-IL"};
    platform.files[u"C:\\Apps\\zelmora-setup.he"] = "65525 = from he\n";
  };
  ScriptedPlatform clean;
  prepared(clean);
  ASSERT_EQ(OutOfMemoryText(clean), u"from he");
  const std::size_t lookupCalls = clean.Log().size();  // the override needs no call to be read
  for (std::size_t k = 0; k < lookupCalls; ++k) {
    for (const bool memory : {false, true}) {
      const Call call = clean.Log()[k].call;
      if (!memory && !platform::CanFail(call)) continue;
      ScriptedPlatform platform;
      prepared(platform);
      memory ? platform.ExhaustMemoryAt(k) : platform.FailAt(k, platform::kErrorAccessDenied);
      EXPECT_EQ(OutOfMemoryText(platform), kBuiltIn)
          << platform::CallName(call) << (memory ? " out of memory" : " failing");
      EXPECT_EQ(platform.OpenFileHandles(), 0u);
    }
  }
}

}  // namespace
}  // namespace testing
}  // namespace zelmora
