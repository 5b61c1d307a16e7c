#include "platform/common/RegFileFormat.h"

#include <gtest/gtest.h>

#include <numeric>

#include "platform/common/Utf.h"
#include "tests/support/StoreTestSupport.h"

namespace zelmora::platform {
namespace {

using testing::ListTree;
using testing::StringValue;
using testing::Utf16LeFile;

constexpr std::u16string_view kRoot = u"HKEY_CURRENT_USER";

// The lines, each ended by CR LF, as a file with its byte-order mark.
std::vector<std::uint8_t> FileOf(std::initializer_list<std::u16string_view> lines) {
  std::u16string text;
  for (std::u16string_view line : lines) (text += line) += u"\r\n";
  return Utf16LeFile(text);
}

std::vector<std::uint8_t> Sequence(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::iota(bytes.begin(), bytes.end(), 0);
  return bytes;
}

TEST(RegFileFormat, WritesEveryFormExactly) {
  RegistryTree tree;
  RegistryKey& software = tree.Root().SubkeyCreatingMissing(u"Software", nullptr);
  software.SubkeyCreatingMissing(u"apps", nullptr)
      .SetValue(u"x", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF});
  RegistryKey& key = software.SubkeyCreatingMissing(u"Quorvane", nullptr);
  key.SubkeyCreatingMissing(u"Empty", nullptr);
  key.SetValue(u"Name", kRegSz, StringValue(u"Zelmora"));
  key.SetValue(u"Spaced", kRegSz, StringValue(u" a b "));
  key.SetValue(u"Say \"hi\"\\now", kRegSz, StringValue(u"C:\\Temp\\\"x\""));
  key.SetValue(u"Port", kRegDword, {0x94, 0x15, 0, 0});
  key.SetValue(u"", kRegSz, StringValue(u""));
  key.SetValue(u"Lines", kRegSz, StringValue(u"a\r\n"));
  key.SetValue(u"Nul", kRegSz, StringValue(std::u16string(u"A\0B", 3)));
  key.SetValue(u"Unterminated", kRegSz, {0x41, 0});
  key.SetValue(u"Blob", kRegBinary, {0xDE, 0xAD, 0xBE, 0xEF});
  key.SetValue(u"Nothing", kRegBinary, {});
  key.SetValue(u"Big", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0});
  key.SetValue(u"Short", kRegDword, {1, 2});
  key.SetValue(u"Custom", 0x12345678, {0xFF});
  key.SetValue(u"Long", kRegBinary, Sequence(60));

  EXPECT_EQ(
      FormatRegFile(tree, kRoot),
      FileOf({
          u"Windows Registry Editor Version 5.00",
          u"",
          u"[HKEY_CURRENT_USER\\Software]",
          u"",
          u"[HKEY_CURRENT_USER\\Software\\apps]",
          u"\"x\"=dword:ffffffff",
          u"",
          u"[HKEY_CURRENT_USER\\Software\\Quorvane]",
          u"\"Name\"=\"Zelmora\"",
          u"\"Spaced\"=\" a b \"",
          u"\"Say \\\"hi\\\"\\\\now\"=\"C:\\\\Temp\\\\\\\"x\\\"\"",
          u"\"Port\"=dword:00001594",
          u"@=\"\"",
          u"\"Lines\"=hex(1):61,00,0d,00,0a,00,00,00",
          u"\"Nul\"=hex(1):41,00,00,00,42,00,00,00",
          u"\"Unterminated\"=hex(1):41,00",
          u"\"Blob\"=hex:de,ad,be,ef",
          u"\"Nothing\"=hex:",
          u"\"Big\"=hex(b):01,00,00,00,00,00,00,00",
          u"\"Short\"=hex(4):01,02",
          u"\"Custom\"=hex(12345678):ff",
          u"\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\",
          u"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\",
          u"  2f,30,31,32,33,34,35,36,37,38,39,3a,3b",
          u"",
          u"[HKEY_CURRENT_USER\\Software\\Quorvane\\Empty]",
          u"",
      }));
}

TEST(RegFileFormat, ListsTheRootOnlyWhenItHasValues) {
  RegistryTree tree;
  EXPECT_EQ(FormatRegFile(tree, kRoot), FileOf({u"Windows Registry Editor Version 5.00", u""}));
  tree.Root().SetValue(u"v", kRegSz, StringValue(u"1"));
  tree.Root().SubkeyCreatingMissing(u"k", nullptr);
  EXPECT_EQ(FormatRegFile(tree, kRoot),
            FileOf({u"Windows Registry Editor Version 5.00", u"", u"[HKEY_CURRENT_USER]",
                    u"\"v\"=\"1\"", u"", u"[HKEY_CURRENT_USER\\k]", u""}));
}

TEST(RegFileFormat, ReadsBackEverythingItWrites) {
  const std::u16string tricky[] = {u"\"",
                                   u"\\",
                                   u"\\\"",
                                   u"[x]=y",
                                   u"@",
                                   u"-dash",
                                   u";semi",
                                   u" spaced ",
                                   u"end]",
                                   u"עברית",
                                   u"\U0001F600 emoji",
                                   u"tab\there",
                                   u"\xD800 lone"};
  std::vector<std::u16string> texts(std::begin(tricky), std::end(tricky));
  texts.insert(texts.end(), {u"", u"line1\r\nline2", u"\r", u"\n", std::u16string(u"a\0b", 3),
                             std::u16string(5000, u'ש'), u"\\\\server\\share\\", u"\"\"\"="});
  RegistryTree tree;
  for (std::size_t k = 0; k < std::size(tricky); ++k) {
    if (!IsValidKeyName(tricky[k])) continue;  // a backslash separates keys
    RegistryKey& key = tree.Root()
                           .SubkeyCreatingMissing(u"Keys", nullptr)
                           .SubkeyCreatingMissing(tricky[k], nullptr);
    for (std::size_t v = 0; v < texts.size(); ++v) {
      const std::u16string name = v < std::size(tricky) ? tricky[v] : texts[v].substr(0, 40);
      if (!IsValidValueName(name) || key.FindValue(name)) continue;
      key.SetValue(name, kRegSz, StringValue(texts[(v + k) % texts.size()]));
    }
    key.SetValue(u"", kRegMultiSz, Utf16LeBytes(std::u16string(u"one\0two\0\0", 9)));
    key.SetValue(u"bytes", kRegBinary, Sequence(256));
    key.SetValue(u"odd", kRegSz, {0x41});
  }
  tree.Root().SetValue(u"at root", kRegExpandSz, StringValue(u"%TEMP%"));

  const std::vector<std::uint8_t> file = FormatRegFile(tree, kRoot);
  const std::optional<RegistryTree> read = ParseRegFile(file, kRoot);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(ListTree(*read), ListTree(tree));
  EXPECT_EQ(FormatRegFile(*read, kRoot), file);
}

TEST(RegFileFormat, ReadsWhatTheRegistryEditorWrites) {
  const auto read = ParseRegFile(
      FileOf({u"Windows Registry Editor Version 5.00", u"", u"; exported by hand",
              u"[HKEY_CURRENT_USER\\B]", u"\"n\"=dword:0000ABCD", u"",
              u"[hkey_current_user\\a\\Deep]", u"\"h\"=hex(2):25,00,\\", u"    54,00,\\", u"00,00",
              u"\"d\"=hex(4):01,00,00,00", u"[HKEY_CURRENT_USER]", u"@=\"root\""}),
      kRoot);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->FindKey(u"b")->FindValue(u"N")->data,
            (std::vector<std::uint8_t>{0xCD, 0xAB, 0, 0}));
  const RegistryKey* deep = read->FindKey(u"A\\deep");
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->Name(), u"Deep");
  EXPECT_EQ(deep->FindValue(u"h")->type, kRegExpandSz);
  EXPECT_EQ(deep->FindValue(u"h")->data, (std::vector<std::uint8_t>{0x25, 0, 0x54, 0, 0, 0}));
  EXPECT_EQ(deep->FindValue(u"d")->type, kRegDword);
  EXPECT_EQ(read->Root().FindValue(u"")->data, StringValue(u"root"));
}

TEST(RegFileFormat, RefusesWhatItDoesNotWrite) {
  constexpr std::u16string_view header = u"Windows Registry Editor Version 5.00\r\n\r\n";
  const auto withBody = [&](std::u16string_view body) {
    return Utf16LeFile(std::u16string(header) + std::u16string(body));
  };
  std::vector<std::uint8_t> noBom = withBody(u"");
  noBom.erase(noBom.begin(), noBom.begin() + 2);
  std::vector<std::uint8_t> oddLength = withBody(u"");
  oddLength.push_back(0);
  // A key path of `levels` names below the root.
  const auto keyOfDepth = [&](std::size_t levels) {
    std::u16string line = u"[HKEY_CURRENT_USER";
    for (std::size_t level = 0; level < levels; ++level) line += u"\\d";
    return withBody(line + u"]\r\n");
  };
  const std::vector<std::vector<std::uint8_t>> files = {
      {},
      noBom,
      oddLength,
      {0xFE, 0xFF, 0, 'W'},
      Utf16LeFile(u"REGEDIT4\r\n\r\n"),
      Utf16LeFile(u"Windows Registry Editor Version 5.00 \r\n\r\n"),
      Utf16LeFile(u"Windows Registry Editor Version 5.00\n\n"),
      Utf16LeFile(u"Windows Registry Editor Version 5.00"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=\"x\"\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=\"x\r\"\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a] \r\n"),
      withBody(u"[HKEY_LOCAL_MACHINE\\a]\r\n"),
      withBody(u"[HKEY_CURRENT_USERS\\a]\r\n"),
      withBody(u"[-HKEY_CURRENT_USER\\a]\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a\\\\b]\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a\\]\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\" + std::u16string(256, u'k') + u"]\r\n"),
      keyOfDepth(kMaxKeyDepth + 1),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n[HKEY_CURRENT_USER\\A]\r\n"),
      withBody(u"\"v\"=\"x\"\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=-\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=\"x\"\r\n\"V\"=dword:00000001\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n@=\"x\"\r\n@=\"y\"\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\\n\"=\"x\"\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=\"x\\t\"\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=\"x\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=\"x\" ;note\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=text\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v" + std::u16string(1, u'\0') + u"\"=\"x\"\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=dword:1\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=dword:000000001\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=dword:0000000g\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex:0g\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex:1\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex:01,\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex:01,,02\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex:01 ,02\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex(1:00\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex():00\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex(123456789):00\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex(x):00\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex:01,\\\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex:01,\\\r\n\r\n"),
      withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=\"x\""),
      withBody(u"just text\r\n"),
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_FALSE(ParseRegFile(files[i], kRoot).has_value()) << "case " << i;
  }
  EXPECT_TRUE(ParseRegFile(withBody(u"[HKEY_CURRENT_USER\\a]\r\n\"v\"=hex:01,\\\r\n  02\r\n"),
                           kRoot)
                  .has_value());  // the same shape, well-formed
  EXPECT_TRUE(ParseRegFile(keyOfDepth(kMaxKeyDepth), kRoot).has_value());  // the deepest key
}

TEST(RegFileWriter, ReformatsOnlyChangedKeysAndMatchesTheWholeFile) {
  RegistryTree tree;
  RegistryKey& a = tree.Root().SubkeyCreatingMissing(u"A", nullptr);
  RegistryKey& b = tree.Root().SubkeyCreatingMissing(u"B", nullptr);
  a.SetValue(u"v", kRegSz, StringValue(u"1"));
  RegFileWriter writer{std::u16string(kRoot)};
  const auto join = [](const std::vector<std::span<const std::uint8_t>>& pieces) {
    std::vector<std::uint8_t> bytes;
    for (auto piece : pieces) bytes.insert(bytes.end(), piece.begin(), piece.end());
    return bytes;
  };
  const auto first = writer.Format(tree);
  EXPECT_EQ(join(first), FormatRegFile(tree, kRoot));
  const std::uint8_t* blockOfA = first[1].data();

  b.SetValue(u"w", kRegDword, {1, 0, 0, 0});
  tree.BeginChanges();
  a.SubkeyCreatingMissing(u"Gone", nullptr);
  ASSERT_EQ(writer.Format(tree).size(), 4u);
  tree.UndoChanges();
  const auto& second = writer.Format(tree);
  EXPECT_EQ(join(second), FormatRegFile(tree, kRoot));
  EXPECT_EQ(second[1].data(), blockOfA);  // A's values did not change: its block was kept
}

// The stored forms that every writer and reader shares: units and numbers low byte first.
TEST(ByteForms, TextAndNumbersAreStoredLowByteFirst) {
  using Bytes = std::vector<std::uint8_t>;
  EXPECT_EQ(Utf16LeWithNul(u"A\u05D0\U0001F600"),
            (Bytes{0x41, 0, 0xD0, 0x05, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
  EXPECT_EQ(Utf16LeBytes(u""), Bytes{});
  EXPECT_EQ(Utf16LeText(Bytes{0x41, 0, 0xD0, 0x05, 0x7F}), u"A\u05D0");  // the odd byte is no unit
  const std::pair<std::uint32_t, std::array<std::uint8_t, 4>> numbers[] = {
      {5524, {0x94, 0x15, 0, 0}},
      {0x12345678, {0x78, 0x56, 0x34, 0x12}},
      {static_cast<std::uint32_t>(-2), {0xFE, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& [number, bytes] : numbers) {
    EXPECT_EQ(DwordLeBytes(number), bytes);
    EXPECT_EQ(DwordFromLe(bytes), number);
  }
}

}  // namespace
}  // namespace zelmora::platform
