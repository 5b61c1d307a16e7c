// The environment, the account and the computer's name on POSIX, as UTF-16.
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string_view>

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

// The account of the effective user id.
std::optional<std::u16string> EffectiveUserName() {
  const EffectiveUserEntry user;
  const passwd* found = user.Get();
  if (found == nullptr || found->pw_name == nullptr) return std::nullopt;
  return Utf8ToUtf16(found->pw_name);
}

// The host name up to its first dot, as a NetBIOS name is the first label of a DNS name.
std::optional<std::u16string> ComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::nullopt;
  const std::string_view host(name);
  return Utf8ToUtf16(host.substr(0, host.find('.')));
}

}  // namespace

// The names' calls as Windows answers them: the name and a NUL stored and its length in *size,
// or, when they do not fit, the units needed with the NUL in *size and tooSmall.
BOOL PosixPlatform::CopyName(const std::u16string& name, char16_t* buffer, DWORD* size,
                             LONG tooSmall) {
  if (!CopyWithNul(name, buffer, *size)) {
    *size = static_cast<DWORD>(name.size() + 1);
    Fail(tooSmall);
    return 0;
  }
  *size = static_cast<DWORD>(name.size());
  return 1;
}

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
  const std::optional<std::u16string> name = EffectiveUserName();
  if (!name) {
    Fail(kErrorGenFailure);
    return 0;
  }
  if (!CopyWithNul(*name, buffer, *size)) {
    *size = static_cast<DWORD>(name->size() + 1);
    Fail(kErrorInsufficientBuffer);
    return 0;
  }
  *size = static_cast<DWORD>(name->size() + 1);
  return 1;
}

BOOL PosixPlatform::GetComputerNameW(char16_t* buffer, DWORD* size) {
  const std::optional<std::u16string> name = ComputerName();
  if (!name || size == nullptr) {
    Fail(name ? kErrorInvalidParameter : kErrorGenFailure);
    return 0;
  }
  return CopyName(*name, buffer, size, kErrorBufferOverflow);
}

BOOL PosixPlatform::GetUserNameExW(DWORD nameFormat, char16_t* buffer, DWORD* size) {
  if (nameFormat != kNameSamCompatible || size == nullptr) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  // Every account here is the computer's own, so its domain is the computer's name.
  const std::optional<std::u16string> computer = ComputerName();
  const std::optional<std::u16string> user = EffectiveUserName();
  if (!computer || !user) {
    Fail(kErrorGenFailure);
    return 0;
  }
  return CopyName(*computer + u"\\" + *user, buffer, size, kErrorMoreData);
}

}  // namespace zelmora::platform
