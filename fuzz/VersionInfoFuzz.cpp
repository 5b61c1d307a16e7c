// Any bytes as a program file and as a version block: the reader answers from within them, finds
// a block it finds again in that block alone, and reads the same string from the block as from
// the bytes it came in, whatever follows it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/common/VersionInfo.h"

using namespace zelmora::platform;
using zelmora::platform::fuzzing::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const std::span<const std::uint8_t> block = FindVersionBlock(bytes);
  if (!block.empty()) {
    Require(block.data() >= data &&
                block.size() <= size - static_cast<std::size_t>(block.data() - data),
            "the block found lies outside the bytes");
    const std::span<const std::uint8_t> again = FindVersionBlock(block);
    Require(again.data() == block.data() && again.size() == block.size(),
            "the block found is not found in itself");
  }
  for (const std::u16string_view key : {u"ProductVersion", u"FileVersion", u"CompanyName"}) {
    const std::optional<std::u16string> text = VersionString(bytes, key);
    if (!text) continue;
    Require(block.data() == data, "a string was read where no block starts");
    Require(text->find(u'\0') == std::u16string::npos, "a string holds a NUL");
    Require(text->size() * 2 < block.size(), "a string is longer than its block");
    Require(VersionString(block, key) == text, "the bytes after the block change a string");
    std::u16string upper(key);
    for (char16_t& c : upper) c = c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c;
    Require(VersionString(bytes, upper) == text, "the key's case changes a string");
  }
  return 0;
}
