#include "platform/common/LanguageList.h"

#include <algorithm>

namespace zelmora::platform {

LONG CopyLanguageList(std::span<const std::u16string> tags, DWORD flags, DWORD* numLanguages,
                      char16_t* buffer, DWORD* bufferSize) {
  if (flags != kMuiLanguageName || numLanguages == nullptr || bufferSize == nullptr ||
      (buffer == nullptr && *bufferSize != 0)) {
    return kErrorInvalidParameter;
  }
  std::size_t needed = 1;  // the NUL that ends the list
  for (const std::u16string& tag : tags) needed += tag.size() + 1;
  if (buffer != nullptr && needed > *bufferSize) return kErrorInsufficientBuffer;
  *numLanguages = static_cast<DWORD>(tags.size());
  *bufferSize = static_cast<DWORD>(needed);
  if (buffer == nullptr) return kErrorSuccess;
  for (const std::u16string& tag : tags) {
    buffer = std::copy(tag.begin(), tag.end(), buffer);
    *buffer++ = u'\0';
  }
  *buffer = u'\0';
  return kErrorSuccess;
}

}  // namespace zelmora::platform
