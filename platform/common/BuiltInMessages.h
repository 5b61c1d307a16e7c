// The tool's string table, built in, for back-ends without a resource section.
#pragma once

#include <string_view>

#include "platform/Platform.h"

namespace zelmora::platform {

// String `id` of the table; empty when there is none.
std::u16string_view BuiltInMessage(UINT id);

// LoadStringW over the built-in table: copies at most capacity - 1 units and a NUL.
int CopyBuiltInMessage(UINT id, char16_t* buffer, int capacity);

}  // namespace zelmora::platform
