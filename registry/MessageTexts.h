// The tool's message texts: the string table's, or an administrator's override of them.
//
// At start-up the tool decides which override file, if any, supplies its texts:
//  1. under HKEY_CURRENT_USER, key Software\Quorvane\Zelmora\Locales, the string value named
//     after the executable's full path: a language tag, or empty for "no override";
//  2. when the user has no such value, the same value under HKEY_LOCAL_MACHINE;
//  3. otherwise the user's interface language.
// With a tag T the file is the executable's path with its extension replaced by ".T"; a tag
// with a region ("he-IL") is tried whole, then by its language alone ("he"). A file with a text
// that the report's code page (the OEM one) cannot show is not used. Whatever goes wrong on the
// way leaves the string table's texts, and the run is otherwise unchanged.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Platform.h"

namespace zelmora {

// Start-up service: looks for the override file and keeps its texts. Never fails, prints
// nothing and writes nothing: on any failure, memory exhaustion included, no override applies.
void LoadMessageOverrides();
// Shut-down: forgets the overrides.
void ReleaseMessageOverrides();
bool MessageOverridesLoaded();

// Text `id`, the override when one is loaded, at most capacity - 1 units and a NUL; empty when
// the table has no such string. Allocates nothing, so that memory exhaustion can be reported.
std::size_t LoadMessage(platform::UINT id, char16_t* buffer, std::size_t capacity);
std::u16string LoadMessage(platform::UINT id);

}  // namespace zelmora
