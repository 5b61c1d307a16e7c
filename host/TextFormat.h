// Filling the placeholders of the tool's message texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

#include "platform/Platform.h"

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

// String `id` of the executable's string table, at most capacity - 1 units; empty when missing.
std::size_t LoadMessage(platform::UINT id, char16_t* buffer, std::size_t capacity);
std::u16string LoadMessage(platform::UINT id);

}  // namespace zelmora
