#include "platform/common/VersionInfo.h"

#include <cstddef>

namespace zelmora::platform {
namespace {

using Bytes = std::span<const std::uint8_t>;

// wLength, wValueLength and wType, two bytes each, little-endian.
constexpr std::size_t kHeaderBytes = 6;
constexpr std::uint16_t kTextType = 1;
constexpr std::uint16_t kFixedInfoBytes = 52;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
// The root's header, key and padding: where the fixed information starts.
constexpr std::size_t kRootValueAt = 40;

std::uint16_t WordAt(Bytes bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t DwordAt(Bytes bytes, std::size_t at) {
  return WordAt(bytes, at) | static_cast<std::uint32_t>(WordAt(bytes, at + 2)) << 16;
}

// Offsets count from the block's start, which the resource compiler aligns.
std::size_t Aligned(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// A node, as offsets into the block.
struct Node {
  std::size_t end = 0;
  std::size_t keyAt = 0;
  std::size_t keyUnits = 0;
  std::uint16_t type = 0;
  std::size_t valueAt = 0;
  std::size_t valueBytes = 0;
  std::size_t childrenAt = 0;
};

// The node at `at`, which must end by limit (its parent's end): none when its length, its key
// or its value do not fit.
std::optional<Node> ReadNode(Bytes block, std::size_t at, std::size_t limit) {
  if (at > limit || limit - at < kHeaderBytes) return std::nullopt;
  const std::size_t length = WordAt(block, at);
  const std::uint16_t valueLength = WordAt(block, at + 2);
  Node node;
  node.type = WordAt(block, at + 4);
  // A header and a NUL at least, so that every step moves on.
  if (length < kHeaderBytes + 2 || length > limit - at) return std::nullopt;
  node.end = at + length;
  node.keyAt = at + kHeaderBytes;
  std::size_t unit = node.keyAt;
  for (;; unit += 2) {
    if (node.end - unit < 2) return std::nullopt;  // no NUL within the node
    if (WordAt(block, unit) == 0) break;
  }
  node.keyUnits = (unit - node.keyAt) / 2;
  // A text value counts UTF-16 units, a binary one bytes.
  node.valueBytes = node.type == kTextType ? std::size_t{valueLength} * 2 : valueLength;
  node.valueAt = Aligned(unit + 2);
  // A node without a value may end right after its key, before the padding.
  if (node.valueBytes > 0 &&
      (node.valueAt > node.end || node.valueBytes > node.end - node.valueAt)) {
    return std::nullopt;
  }
  node.childrenAt = Aligned(node.valueAt + node.valueBytes);
  return node;
}

char16_t Folded(char16_t c) { return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c; }

// Keys compare with their ASCII letters in any case, unless exactly.
bool KeyIs(Bytes block, const Node& node, std::u16string_view key, bool exactly = false) {
  if (node.keyUnits != key.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const char16_t unit = WordAt(block, node.keyAt + 2 * i);
    if (exactly ? unit != key[i] : Folded(unit) != Folded(key[i])) return false;
  }
  return true;
}

// Whether the root's key and its NUL are at `at`, which leaves that many bytes.
bool RootKeyAt(Bytes bytes, std::size_t at) {
  for (std::size_t i = 0; i <= kRootKey.size(); ++i) {
    if (WordAt(bytes, at + 2 * i) != (i < kRootKey.size() ? kRootKey[i] : 0)) return false;
  }
  return true;
}

// The root node, when block starts with one.
std::optional<Node> ReadRoot(Bytes block) {
  const std::optional<Node> root = ReadNode(block, 0, block.size());
  if (!root || root->valueBytes != kFixedInfoBytes || !KeyIs(block, *root, kRootKey, true) ||
      DwordAt(block, root->valueAt) != kFixedInfoSignature) {
    return std::nullopt;
  }
  return root;
}

// Walks the children of one node in order.
class Children {
 public:
  Children(Bytes block, const Node& parent)
      : block_(block), at_(parent.childrenAt), end_(parent.end) {}

  // The next child; none at the end, and also when it is malformed, since nothing after it can
  // be found: the walk then stays ended.
  std::optional<Node> Next() {
    if (at_ >= end_) return std::nullopt;
    std::optional<Node> child = ReadNode(block_, at_, end_);
    at_ = child ? Aligned(child->end) : end_;
    return child;
  }

 private:
  Bytes block_;
  std::size_t at_;
  std::size_t end_;
};

std::u16string TextOf(Bytes block, const Node& node) {
  std::u16string text;
  for (std::size_t at = node.valueAt; at + 2 <= node.valueAt + node.valueBytes; at += 2) {
    const char16_t unit = WordAt(block, at);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

}  // namespace

std::span<const std::uint8_t> FindVersionBlock(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kLeast = kRootValueAt + kFixedInfoBytes;
  for (std::size_t at = 0; bytes.size() - at >= kLeast; ++at) {
    // The key first, whole, so that no offset costs more than its few units, however many look
    // like the start of a key.
    if (!RootKeyAt(bytes, at + kHeaderBytes)) continue;
    const Bytes candidate = bytes.subspan(at);
    if (const std::optional<Node> root = ReadRoot(candidate)) return candidate.first(root->end);
  }
  return {};
}

std::optional<std::u16string> VersionString(std::span<const std::uint8_t> block,
                                            std::u16string_view key) {
  const std::optional<Node> root = ReadRoot(block);
  if (!root) return std::nullopt;
  Children sections(block, *root);
  while (const std::optional<Node> section = sections.Next()) {
    if (!KeyIs(block, *section, u"StringFileInfo")) continue;
    Children tables(block, *section);
    const std::optional<Node> table = tables.Next();
    if (!table) return std::nullopt;
    Children strings(block, *table);
    while (const std::optional<Node> string = strings.Next()) {
      if (!KeyIs(block, *string, key)) continue;
      if (string->type != kTextType) return std::nullopt;
      return TextOf(block, *string);
    }
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace zelmora::platform
