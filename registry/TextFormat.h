// Filling the placeholders of the tool's message texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace zelmora {

// One argument: a text (%s), a signed number (%d) or an address (%p).
using FormatArg = std::variant<std::u16string_view, std::int32_t, std::uintptr_t>;

// Fills format's placeholders with args in order into out, which holds capacity units; output
// stops when it is full. %s takes a text, %d a number in signed decimal, %p an address as 16
// upper-case hexadecimal digits, %% a percent sign. Returns the units written (no terminator).
// Allocates nothing, so that memory exhaustion can still be reported.
std::size_t FormatText(std::u16string_view format, std::initializer_list<FormatArg> args,
                       char16_t* out, std::size_t capacity);

// The same, into a new text of unlimited length.
std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArg> args);

// The placeholders of a format as FormatText fills them, in order: one unit each, 's', 'd' or
// 'p'.
std::u16string FormatPlaceholders(std::u16string_view format);

}  // namespace zelmora
