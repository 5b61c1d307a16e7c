// The fixed pieces of the export format's text, shared by its writer and its reader.
#pragma once

#include <string_view>

namespace zelmora::platform {

inline constexpr std::u16string_view kHeaderLine = u"Windows Registry Editor Version 5.00";
inline constexpr std::u16string_view kLowerHexDigits = u"0123456789abcdef";
inline constexpr std::u16string_view kDwordPrefix = u"dword:";
inline constexpr std::u16string_view kBinaryPrefix = u"hex:";
inline constexpr std::u16string_view kTypedHexPrefix = u"hex(";

}  // namespace zelmora::platform
