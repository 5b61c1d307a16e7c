#include "platform/common/VersionInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

namespace zelmora::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Text = std::optional<std::u16string>;

Bytes Units(std::u16string_view text) {
  Bytes bytes;
  for (char16_t unit : text)
    bytes.insert(bytes.end(), {std::uint8_t(unit), std::uint8_t(unit >> 8)});
  return bytes;
}

Bytes Plus(Bytes bytes, const Bytes& more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
  return bytes;
}

Bytes Patched(Bytes bytes, std::size_t at, std::uint16_t word) {
  bytes[at] = std::uint8_t(word);
  bytes[at + 1] = std::uint8_t(word >> 8);
  return bytes;
}

// Nodes laid out by hand as the resource compiler lays them out (the rows that read its own
// output check that layout): length, value length, type, the key and its NUL, then each part on
// a 4-byte boundary.
Bytes Node(std::u16string_view key, std::uint16_t type, std::uint16_t valueLength, Bytes value,
           std::vector<Bytes> children = {}) {
  Bytes node = Plus(Bytes(6), Units(std::u16string(key) + u'\0'));
  children.insert(children.begin(), value);
  for (const Bytes& part : children) {
    if (part.empty()) continue;
    node.resize((node.size() + 3) & ~std::size_t{3});
    node.insert(node.end(), part.begin(), part.end());
  }
  return Patched(Patched(Patched(node, 0, node.size()), 2, valueLength), 4, type);
}
Bytes String(std::u16string_view key, std::u16string_view text) {
  return Node(key, 1, text.size() + 1, Units(std::u16string(text) + u'\0'));
}
Bytes Table(std::vector<Bytes> strings, std::u16string_view key = u"040904B0") {
  return Node(key, 1, 0, {}, strings);
}
Bytes StringInfo(std::vector<Bytes> tables) { return Node(u"StringFileInfo", 1, 0, {}, tables); }
const Bytes kFixed = Patched(Patched(Bytes(52), 0, 0x04BD), 2, 0xFEEF);
Bytes Root(std::vector<Bytes> children, Bytes fixed = kFixed,
           std::u16string_view key = u"VS_VERSION_INFO") {
  return Node(key, 0, fixed.size(), fixed, children);
}
const Bytes kVar = Node(u"VarFileInfo", 1, 0, {}, {Node(u"Translation", 0, 4, {9, 4, 0xB0, 4})});
const Bytes kFile = String(u"FileVersion", u"1.0");
const Bytes kProduct = String(u"ProductVersion", u"7.8-X");
const Bytes kBlock = Root({StringInfo({Table({kFile, kProduct})}), kVar});
constexpr std::u16string_view kKey = u"ProductVersion";

TEST(VersionInfoTest, ReadsStringsOfWellFormedOddAndMalformedBlocks) {
  const Bytes noNul = Patched(Patched(Plus(Bytes(6), Units(kKey)), 0, 6 + 2 * kKey.size()), 4, 1);
  const struct {
    const char* what;
    Bytes block;
    std::u16string_view key;
    Text text;
    bool isBlock = true;  // its root holds
  } rows[] = {
      {"well formed", kBlock, kKey, u"7.8-X"},
      {"another case", kBlock, u"pRODUCTvERSION", u"7.8-X"},
      {"no such string", kBlock, u"Comments", {}},
      {"bytes after the block", Plus(kBlock, Bytes(64, 0xFF)), kKey, u"7.8-X"},
      {"StringFileInfo last", Root({kVar, StringInfo({Table({kProduct})})}), kKey, u"7.8-X"},
      {"only in a second table",
       Root({StringInfo({Table({kFile}), Table({kProduct}, u"040704B0")})}),
       kKey,
       {}},
      {"only in a second StringFileInfo",
       Root({StringInfo({Table({kFile})}), StringInfo({Table({kProduct})})}),
       kKey,
       {}},
      {"an empty StringFileInfo",
       Root({StringInfo({}), StringInfo({Table({kProduct})})}),
       kKey,
       {}},
      {"empty value", Root({StringInfo({Table({String(kKey, u"")})})}), kKey, u""},
      {"no value at all", Root({StringInfo({Table({Node(kKey, 1, 0, {})})})}), kKey, u""},
      {"a value without its NUL, units after it",
       Root({StringInfo({Table({Node(kKey, 1, 5, Units(u"7.8-X!!"))})})}), kKey, u"7.8-X"},
      {"a NUL inside the value",
       Root({StringInfo({Table({String(kKey, std::u16string_view(u"7.8\0-X", 6))})})}), kKey,
       u"7.8"},
      {"an odd-length string before it",
       Root({StringInfo({Table({Patched(Plus(kFile, {0x55}), 0, kFile.size() + 1), kProduct})})}),
       kKey, u"7.8-X"},
      {"a key without its NUL", Root({StringInfo({Table({noNul, kProduct})})}), kKey, {}},
      {"a string longer than its table",
       Root({StringInfo({Table({Patched(kProduct, 0, kProduct.size() + 4)})}), kVar}),
       kKey,
       {}},
      {"a StringFileInfo longer than the block",
       Root({Patched(StringInfo({Table({kProduct})}), 0, 400)}),
       kKey,
       {}},
      {"a value longer than its string",
       Root({StringInfo({Table({Patched(kProduct, 2, 40)})})}),
       kKey,
       {}},
      {"a child of length 0",
       Root({StringInfo({Table({Patched(Patched(kFile, 0, 0), 2, 0), kProduct})})}),
       kKey,
       {}},
      {"a string stored as binary",
       Root({StringInfo({Table({Patched(kProduct, 4, 0)})})}),
       kKey,
       {}},
      {"a block longer than its bytes", Patched(kBlock, 0, kBlock.size() + 2), kKey, {}, false},
      {"no signature", Root({StringInfo({Table({kProduct})})}, Bytes(52)), kKey, {}, false},
      {"fixed information of 56 bytes",
       Root({StringInfo({Table({kProduct})})}, Plus(kFixed, Bytes(4))),
       kKey,
       {},
       false},
      {"another root key",
       Root({StringInfo({Table({kProduct})})}, kFixed, u"VS_VERSION_INFX"),
       kKey,
       {},
       false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(VersionString(row.block, row.key), row.text) << row.what;
    // A block whose root holds is found where it starts; no other is found at all.
    const std::size_t length = row.block[0] | row.block[1] << 8;
    EXPECT_EQ(FindVersionBlock(row.block).size(), row.isBlock ? length : 0) << row.what;
  }
}

TEST(VersionInfoTest, FindsTheFirstBlockAndNoCopyOfItsKey) {
  const Bytes key = Units(u"VS_VERSION_INFO");
  const Bytes decoy = Plus(Plus(Patched(Bytes(6, 0), 2, 52), key), Bytes(60, 0));
  const Bytes unsigned_ = Root({}, Bytes(52));
  const Bytes file = Plus(Plus(Plus(Bytes(3, 'V'), decoy), unsigned_), Plus(kBlock, kBlock));
  const std::span<const std::uint8_t> found = FindVersionBlock(file);
  EXPECT_EQ(found.data() - file.data(), std::ptrdiff_t(3 + decoy.size() + unsigned_.size()));
  EXPECT_EQ(found.size(), kBlock.size());
  // Long lengths before units that start the key, but never the whole key: found in linear time.
  Bytes keyLike;
  for (int i = 0; i < 1 << 20; ++i) keyLike.insert(keyLike.end(), {0xFF, 0xFF, 'V', 0});
  EXPECT_TRUE(FindVersionBlock(keyLike).empty());
  // Cut anywhere, the block is no block; held to a cut, its string is gone until the cut
  // passes its StringFileInfo.
  const std::size_t stringInfoEnd = 92 + StringInfo({Table({kFile, kProduct})}).size();
  for (std::size_t cut = 0; cut < kBlock.size(); ++cut) {
    const Bytes cutBlock(kBlock.begin(), kBlock.begin() + cut);
    EXPECT_TRUE(FindVersionBlock(cutBlock).empty()) << cut;
    if (cut < 6) continue;
    EXPECT_EQ(VersionString(Patched(cutBlock, 0, cut), kKey),
              cut < stringInfoEnd ? Text() : Text(u"7.8-X"))
        << cut;
  }
}

// The resource compiler's own blocks: a sample's, and the tool's (whose POSIX build must carry
// the same block, byte for byte, with the build's identity).
Bytes FileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(VersionInfoTest, ReadsTheResourceCompilersBlock) {
  if (*ZELMORA_SAMPLE_RES == '\0') GTEST_SKIP() << ZELMORA_NO_WINDRES;
  const Bytes file = FileBytes(ZELMORA_SAMPLE_RES);
  const std::span<const std::uint8_t> block = FindVersionBlock(file);
  EXPECT_EQ(VersionString(block, kKey), u"2.5.1-FS-7.example-0123abcd");
  EXPECT_EQ(VersionString(block, u"FileDescription"), u"Probe – ✓ (FS-7)");
  EXPECT_EQ(VersionString(block, u"Comments"), u"");
  EXPECT_EQ(VersionString(block, u"FileVersion"), std::nullopt);  // in the second table only
}

TEST(VersionInfoTest, ThePosixToolCarriesTheResourceCompilersBlock) {
  const Bytes tool = FileBytes(ZELMORA_TOOL);
  const std::span<const std::uint8_t> block = FindVersionBlock(tool);
  EXPECT_EQ(VersionString(block, kKey), ZELMORA_BUILD_IDENTITY_TEXT);
  if (*ZELMORA_TOOL_RES == '\0') GTEST_SKIP() << ZELMORA_NO_WINDRES;
  const Bytes res = FileBytes(ZELMORA_TOOL_RES);
  const std::span<const std::uint8_t> compiled = FindVersionBlock(res);
  EXPECT_TRUE(std::ranges::equal(block, compiled)) << "the POSIX block differs: " << block.size()
                                                   << " bytes, the compiler's " << compiled.size();
}

}  // namespace
}  // namespace zelmora::platform
