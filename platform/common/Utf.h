// Conversions between UTF-8 and UTF-16 for the back-ends that meet UTF-8 text.
#pragma once

#include <string>
#include <string_view>

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

}  // namespace zelmora::platform
