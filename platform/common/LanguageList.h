// The answer of GetUserPreferredUILanguages, for the back-ends that know the languages themselves.
#pragma once

#include <span>
#include <string>

#include "platform/Platform.h"

namespace zelmora::platform {

// Stores the tags as the call's contract lists them, or tells the size needed. Returns
// kErrorSuccess, or the code the call fails with.
LONG CopyLanguageList(std::span<const std::u16string> tags, DWORD flags, DWORD* numLanguages,
                      char16_t* buffer, DWORD* bufferSize);

}  // namespace zelmora::platform
