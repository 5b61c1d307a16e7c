// What the installation needs to know about the workstation: the TEMP folder and whether the
// current user is the designated account. Nothing is cached; each call asks the platform.
#pragma once

#include <string>
#include <string_view>

#include "registry/Environment.h"

namespace zelmora {

// The current user's logon name without the units 0x0000-0x0020 at either end; empty when the
// platform cannot tell it.
std::u16string CurrentUserName();

// The text without its leading and trailing units at or below 0x0020.
std::u16string TrimEdges(const std::u16string& text);

// The text with only the ASCII letters a-z mapped to A-Z; no locale takes part.
std::u16string AsciiUpperCase(std::u16string_view text);

// Whether the user name, upper-cased in ASCII, is exactly the designated account "UPSCTRL".
bool IsDesignatedAccount(std::u16string_view userName);

}  // namespace zelmora
