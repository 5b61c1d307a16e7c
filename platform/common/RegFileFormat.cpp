#include "platform/common/RegFileFormat.h"

#include <unordered_map>
#include <utility>

#include "platform/common/RegFileSyntax.h"
#include "platform/common/Utf.h"

namespace zelmora::platform {
namespace {

// A hex list line is broken after the comma that brings it to this many characters, which
// keeps every line, with its trailing backslash, within 80 characters as the editor writes it.
constexpr std::size_t kHexWrapColumn = 77;

class Utf16LeWriter {
 public:
  explicit Utf16LeWriter(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  void Put(char16_t unit) { Put(std::u16string_view(&unit, 1)); }
  void Put(std::u16string_view text) { AppendUtf16Le(text, bytes_); }
  void EndLine() { Put(u"\r\n"); }
  void HexByte(std::uint8_t byte) {
    Put(kLowerHexDigits[byte >> 4]);
    Put(kLowerHexDigits[byte & 0xF]);
  }
  // Writes text between quotes with backslash and quote escaped; returns the units written.
  std::size_t Quoted(std::u16string_view text) {
    std::size_t written = 2 + text.size();
    Put(u'"');
    for (char16_t unit : text) {
      if (unit == u'\\' || unit == u'"') {
        Put(u'\\');
        ++written;
      }
      Put(unit);
    }
    Put(u'"');
    return written;
  }

 private:
  std::vector<std::uint8_t>& bytes_;
};

// Text that the quoted form carries exactly: one zero unit at the end and nothing below a
// space before it (line ends and tabs would not survive an editor, a NUL would end the text).
bool IsPlainString(const RegistryValue& value) {
  const auto& data = value.data;
  if (value.type != kRegSz || data.size() < 2 || data.size() % 2 != 0) return false;
  if (data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return false;
  for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
    if (data[i + 1] == 0 && data[i] < 0x20) return false;
  }
  return true;
}

void WriteHexList(Utf16LeWriter& out, std::size_t column, const std::vector<std::uint8_t>& data) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    out.HexByte(data[i]);
    if (i + 1 == data.size()) break;
    out.Put(u',');
    column += 3;
    if (column >= kHexWrapColumn) {
      out.Put(u"\\\r\n  ");
      column = 2;
    }
  }
}

void WriteValue(Utf16LeWriter& out, const RegistryValue& value) {
  std::size_t column = 0;
  if (value.name.empty()) {
    out.Put(u"@=");
    column = 2;
  } else {
    column = out.Quoted(value.name) + 1;
    out.Put(u'=');
  }
  const auto& data = value.data;
  if (IsPlainString(value)) {
    out.Quoted(Utf16LeText(std::span(data).first(data.size() - 2)));
  } else if (value.type == kRegDword && data.size() == 4) {
    out.Put(kDwordPrefix);
    const DWORD number = DwordFromLe(std::span(data).first<4>());
    for (int shift = 28; shift >= 0; shift -= 4) out.Put(kLowerHexDigits[(number >> shift) & 0xF]);
  } else {
    if (value.type == kRegBinary) {
      out.Put(kBinaryPrefix);
      column += kBinaryPrefix.size();
    } else {
      std::u16string prefix(kTypedHexPrefix);
      bool leading = true;
      for (int shift = 28; shift >= 0; shift -= 4) {
        const unsigned digit = (value.type >> shift) & 0xF;
        if (digit == 0 && leading && shift != 0) continue;
        leading = false;
        prefix.push_back(kLowerHexDigits[digit]);
      }
      prefix += u"):";
      out.Put(prefix);
      column += prefix.size();
    }
    WriteHexList(out, column, data);
  }
  out.EndLine();
}

void WriteKeyBlock(std::vector<std::uint8_t>& bytes, std::u16string_view rootName,
                   std::u16string_view path, const RegistryKey& key) {
  Utf16LeWriter out(bytes);
  out.Put(u'[');
  out.Put(rootName);
  if (!path.empty()) {
    out.Put(u'\\');
    out.Put(path);
  }
  out.Put(u']');
  out.EndLine();
  for (const RegistryValue& value : key.Values()) WriteValue(out, value);
  out.EndLine();
}

std::vector<std::uint8_t> Preamble() {
  std::vector<std::uint8_t> bytes{0xFF, 0xFE};
  Utf16LeWriter out(bytes);
  out.Put(kHeaderLine);
  out.EndLine();
  out.EndLine();
  return bytes;
}

template <typename Visit>
void VisitSubkeys(const RegistryKey& key, std::u16string& path, Visit& visit) {
  for (const RegistryKey* subkey : key.Subkeys()) {
    const std::size_t length = path.size();
    if (length != 0) path.push_back(u'\\');
    path += subkey->Name();
    visit(path, *subkey);
    VisitSubkeys(*subkey, path, visit);
    path.resize(length);
  }
}

// Calls visit(path, key) for every key that the file lists, in file order.
template <typename Visit>
void VisitInFileOrder(const RegistryTree& tree, Visit visit) {
  std::u16string path;
  if (!tree.Root().Values().empty()) visit(path, tree.Root());
  VisitSubkeys(tree.Root(), path, visit);
}

}  // namespace

std::vector<std::uint8_t> FormatRegFile(const RegistryTree& tree, std::u16string_view rootName) {
  std::vector<std::uint8_t> bytes = Preamble();
  VisitInFileOrder(tree, [&](std::u16string_view path, const RegistryKey& key) {
    WriteKeyBlock(bytes, rootName, path, key);
  });
  return bytes;
}

struct RegFileWriter::Impl {
  struct Block {
    std::uint64_t revision = 0;  // revisions start at 1, so a new entry never matches
    std::uint64_t generation = 0;
    std::vector<std::uint8_t> bytes;
  };

  std::u16string rootName;
  std::vector<std::uint8_t> preamble = Preamble();
  // A key's path never changes and a destroyed key's revision is never reused, so a block whose
  // key and revision match is that key's current text.
  std::unordered_map<const RegistryKey*, Block> blocks;
  std::uint64_t generation = 0;
  std::vector<std::span<const std::uint8_t>> pieces;
};

RegFileWriter::RegFileWriter(std::u16string rootName) : impl_(std::make_unique<Impl>()) {
  impl_->rootName = std::move(rootName);
}

RegFileWriter::~RegFileWriter() = default;

const std::vector<std::span<const std::uint8_t>>& RegFileWriter::Format(const RegistryTree& tree) {
  Impl& impl = *impl_;
  const std::uint64_t generation = ++impl.generation;
  impl.pieces.clear();
  impl.pieces.emplace_back(impl.preamble);
  VisitInFileOrder(tree, [&](std::u16string_view path, const RegistryKey& key) {
    Impl::Block& block = impl.blocks[&key];
    if (block.revision != key.Revision()) {
      block.bytes.clear();
      WriteKeyBlock(block.bytes, impl.rootName, path, key);
      block.revision = key.Revision();
    }
    block.generation = generation;
    impl.pieces.emplace_back(block.bytes);
  });
  // Blocks of keys that no longer exist (undone creations) would otherwise pile up.
  if (impl.blocks.size() + 1 > impl.pieces.size()) {
    std::erase_if(impl.blocks,
                  [&](const auto& entry) { return entry.second.generation != generation; });
  }
  return impl.pieces;
}

void RegFileWriter::Forget() {
  impl_->blocks.clear();
  impl_->pieces.clear();
}

}  // namespace zelmora::platform
