// The tool's string table, built in, for back-ends without a resource section.
#pragma once

#include <optional>
#include <string_view>

#include "platform/Platform.h"

namespace zelmora::platform {

// String `id` of the table; nothing when the table has no such id.
std::optional<std::u16string_view> BuiltInMessage(UINT id);

// LoadStringW over the built-in table: copies at most capacity - 1 units and a NUL.
int CopyBuiltInMessage(UINT id, char16_t* buffer, int capacity);

}  // namespace zelmora::platform
