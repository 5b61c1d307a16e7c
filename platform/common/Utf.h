// Conversions between UTF-8 and UTF-16 for the back-ends that meet UTF-8 text, and the
// little-endian byte forms in which the registry stores text and numbers.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelmora::platform {

// Decodes UTF-8. Each maximal ill-formed subsequence (a stray continuation byte, a truncated or
// overlong sequence, an encoded surrogate, a code point above U+10FFFF) becomes one U+FFFD, so
// that undecodable input still yields text of predictable shape and never fails.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Whether the bytes are UTF-8 throughout, with none of the forms above.
bool IsWellFormedUtf8(std::string_view utf8);

// Encodes UTF-16 as UTF-8. A unit that is half of a surrogate pair without its partner becomes
// U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// The same into a fixed buffer, allocating nothing: writes what fits into capacity units and
// returns the length the whole conversion needs.
std::size_t Utf8ToUtf16(std::string_view utf8, char16_t* out, std::size_t capacity);
std::size_t Utf16ToUtf8(std::u16string_view utf16, char* out, std::size_t capacity);

// Appends the text's units as UTF-16LE, two bytes each, low byte first.
void AppendUtf16Le(std::u16string_view text, std::vector<std::uint8_t>& bytes);
// The text's units as UTF-16LE.
std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view text);
// The text's units and one zero unit as UTF-16LE: the stored form of a string value.
std::vector<std::uint8_t> Utf16LeWithNul(std::u16string_view text);
// The units that UTF-16LE bytes hold; an odd last byte is no unit and is left out.
std::u16string Utf16LeText(std::span<const std::uint8_t> bytes);

// A 32-bit number as four bytes, least significant first, and back.
std::array<std::uint8_t, 4> DwordLeBytes(std::uint32_t value);
std::uint32_t DwordFromLe(std::span<const std::uint8_t, 4> bytes);

}  // namespace zelmora::platform
