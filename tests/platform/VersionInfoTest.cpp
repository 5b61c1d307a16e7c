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
Bytes Table(std::vector<Bytes> strings) { return Node(u"040904B0", 1, 0, {}, strings); }
Bytes Info(std::vector<Bytes> tables) { return Node(u"StringFileInfo", 1, 0, {}, tables); }
const Bytes kFixed = Patched(Patched(Bytes(52), 0, 0x04BD), 2, 0xFEEF);
Bytes Root(std::vector<Bytes> parts, Bytes fixed = kFixed,
           std::u16string_view key = u"VS_VERSION_INFO") {
  return Node(key, 0, fixed.size(), fixed, parts);
}
Bytes In(Bytes string) { return Root({Info({Table({string})})}); }

const Bytes kVar = Node(u"VarFileInfo", 1, 0, {}, {Node(u"Translation", 0, 4, {9, 4, 0xB0, 4})});
const Bytes kFile = String(u"FileVersion", u"1.0");
const Bytes kProduct = String(u"ProductVersion", u"7.8-X");
const Bytes kBlock = Root({Info({Table({kFile, kProduct})}), kVar});
constexpr std::u16string_view kKey = u"ProductVersion";

TEST(VersionInfoTest, ReadsStringsOfWellFormedOddAndMalformedBlocks) {
  const Bytes noNul = Patched(Patched(Plus(Bytes(6), Units(kKey)), 0, 6 + 2 * kKey.size()), 4, 1);
  const Bytes odd = Plus(Patched(kFile, 0, kFile.size() + 1), {0x55});
  const Bytes tooLong = Patched(kProduct, 0, kProduct.size() + 4);
  const Bytes empty = Patched(Patched(kFile, 0, 0), 2, 0);
  const std::vector<Bytes> parts{Info({Table({kProduct})})};
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
      {"StringFileInfo last", Root({kVar, Info({Table({kProduct})})}), kKey, u"7.8-X"},
      {"in a second table", Root({Info({Table({kFile}), Table({kProduct})})}), kKey, {}},
      {"in a second StringFileInfo", Root({Info({Table({kFile})}), parts[0]}), kKey, {}},
      {"an empty StringFileInfo", Root({Info({}), parts[0]}), kKey, {}},
      {"empty value", In(String(kKey, u"")), kKey, u""},
      {"no value at all", In(Node(kKey, 1, 0, {})), kKey, u""},
      {"no NUL, units after it", In(Node(kKey, 1, 5, Units(u"7.8-X!!"))), kKey, u"7.8-X"},
      {"a NUL inside", In(String(kKey, std::u16string_view(u"7.8\0-X", 6))), kKey, u"7.8"},
      {"an odd-length string first", Root({Info({Table({odd, kProduct})})}), kKey, u"7.8-X"},
      {"a key without its NUL", Root({Info({Table({noNul, kProduct})})}), kKey, {}},
      {"a string longer than its table", Root({Info({Table({tooLong})}), kVar}), kKey, {}},
      {"a StringFileInfo longer than the block", Root({Patched(parts[0], 0, 400)}), kKey, {}},
      {"a value longer than its string", In(Patched(kProduct, 2, 40)), kKey, {}},
      {"a child of length 0", Root({Info({Table({empty, kProduct})})}), kKey, {}},
      {"a string stored as binary", In(Patched(kProduct, 4, 0)), kKey, {}},
      {"a block longer than its bytes", Patched(kBlock, 0, kBlock.size() + 2), kKey, {}, false},
      {"no signature", Root(parts, Bytes(52)), kKey, {}, false},
      {"fixed information of 56 bytes", Root(parts, Plus(kFixed, Bytes(4))), kKey, {}, false},
      {"another root key", Root(parts, kFixed, u"VS_VERSION_INFX"), kKey, {}, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(VersionString(row.block, row.key), row.text) << row.what;
    const std::size_t length = row.block[0] | row.block[1] << 8;
    EXPECT_EQ(FindVersionBlock(row.block).size(), row.isBlock ? length : 0) << row.what;
  }
}

TEST(VersionInfoTest, FindsTheFirstBlockAndNoCopyOfItsKey) {
  const Bytes decoy = Plus(Plus(Patched(Bytes(6), 2, 52), Units(u"VS_VERSION_INFO")), Bytes(60));
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
  const std::size_t infoEnd = 92 + Info({Table({kFile, kProduct})}).size();
  for (std::size_t cut = 0; cut < kBlock.size(); ++cut) {
    const Bytes cutBlock(kBlock.begin(), kBlock.begin() + cut);
    EXPECT_TRUE(FindVersionBlock(cutBlock).empty()) << cut;
    if (cut < 6) continue;
    const Text text = VersionString(Patched(cutBlock, 0, cut), kKey);
    EXPECT_EQ(text, cut < infoEnd ? Text() : Text(u"7.8-X")) << cut;
  }
}

Bytes FileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The resource compiler's own blocks: a sample's, and the tool's resource script's, which the
// POSIX tool's block, with the build's identity, must equal byte for byte.
TEST(VersionInfoTest, ReadsTheResourceCompilersBlocksAsThePosixToolCarriesThem) {
  const Bytes tool = FileBytes(ZELMORA_TOOL);
  const std::span<const std::uint8_t> block = FindVersionBlock(tool);
  EXPECT_EQ(VersionString(block, kKey), ZELMORA_BUILD_IDENTITY_TEXT);
  if (*ZELMORA_SAMPLE_RES == '\0') GTEST_SKIP() << ZELMORA_NO_WINDRES;
  const Bytes sample = FileBytes(ZELMORA_SAMPLE_RES);
  EXPECT_EQ(VersionString(FindVersionBlock(sample), kKey), u"2.5.1-FS-7.example-0123abcd");
  EXPECT_EQ(VersionString(FindVersionBlock(sample), u"FileDescription"), u"Probe – ✓ (FS-7)");
  EXPECT_EQ(VersionString(FindVersionBlock(sample), u"Comments"), u"");
  EXPECT_EQ(VersionString(FindVersionBlock(sample), u"FileVersion"), Text());  // second table
  const Bytes res = FileBytes(ZELMORA_TOOL_RES);
  EXPECT_TRUE(std::ranges::equal(block, FindVersionBlock(res))) << "the POSIX tool's block differs";
}

}  // namespace
}  // namespace zelmora::platform
