// The environment and the account on POSIX, as UTF-16.
#include <cstdlib>

#include "platform/common/Utf.h"
#include "platform/posix/PasswordEntry.h"
#include "platform/posix/PosixPlatform.h"

namespace zelmora::platform {
namespace {

// Copies text and a NUL when they fit into capacity units; returns whether they did.
bool CopyWithNul(const std::u16string& text, char16_t* buffer, DWORD capacity) {
  if (text.size() + 1 > capacity) return false;
  text.copy(buffer, text.size());
  buffer[text.size()] = u'\0';
  return true;
}

}  // namespace

DWORD PosixPlatform::GetEnvironmentVariableW(const char16_t* name, char16_t* buffer, DWORD size) {
  // Names are matched exactly, as the POSIX environment does.
  const std::string utf8Name = Utf16ToUtf8(name);
  const char* raw = utf8Name.empty() || utf8Name.find('=') != std::string::npos
                        ? nullptr
                        : std::getenv(utf8Name.c_str());
  if (raw == nullptr || *raw == '\0') {
    Fail(kErrorEnvvarNotFound);
    return 0;
  }
  const std::u16string value = Utf8ToUtf16(raw);
  if (!CopyWithNul(value, buffer, size)) return static_cast<DWORD>(value.size() + 1);
  return static_cast<DWORD>(value.size());
}

BOOL PosixPlatform::GetUserNameW(char16_t* buffer, DWORD* size) {
  // The account of the effective user id.
  const EffectiveUserEntry user;
  const passwd* found = user.Get();
  if (found == nullptr || found->pw_name == nullptr) {
    Fail(kErrorGenFailure);
    return 0;
  }
  const std::u16string name = Utf8ToUtf16(found->pw_name);
  if (!CopyWithNul(name, buffer, *size)) {
    *size = static_cast<DWORD>(name.size() + 1);
    Fail(kErrorInsufficientBuffer);
    return 0;
  }
  *size = static_cast<DWORD>(name.size() + 1);
  return 1;
}

}  // namespace zelmora::platform
