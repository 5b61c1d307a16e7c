// The names of the computer and of the account, on Windows.
#include <string>
#include <vector>

#include "platform/win32/Win32Platform.h"

namespace zelmora::platform {
namespace {

// The access token of the account the thread runs as: its own when it impersonates, else the
// process's.
::HANDLE OpenCallerToken() {
  ::HANDLE token = nullptr;
  if (::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return token;
  if (::GetLastError() != ERROR_NO_TOKEN) return nullptr;
  return ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) ? token : nullptr;
}

// "DOMAIN\user" of the token's account, or nothing with the error kept.
bool SamCompatibleName(::HANDLE token, std::wstring& name) {
  ::DWORD needed = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
  if (needed == 0) return false;
  std::vector<unsigned char> user(needed);
  if (!::GetTokenInformation(token, TokenUser, user.data(), needed, &needed)) return false;
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  std::vector<wchar_t> account(257);
  std::vector<wchar_t> domain(257);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto accountSize = static_cast<::DWORD>(account.size());
    auto domainSize = static_cast<::DWORD>(domain.size());
    SID_NAME_USE use{};
    if (::LookupAccountSidW(nullptr, sid, account.data(), &accountSize, domain.data(), &domainSize,
                            &use)) {
      name.assign(domain.data());
      name += L'\\';
      name += account.data();
      return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    account.resize(accountSize + 1);
    domain.resize(domainSize + 1);
  }
  return false;
}

}  // namespace

BOOL Win32Platform::GetComputerNameW(char16_t* buffer, DWORD* size) {
  DwordParam capacity(size);
  return ::GetComputerNameW(Wide(buffer), capacity.get());
}

// Made from the process token and LookupAccountSidW (advapi32) rather than secur32's call of
// the same name, which would add a DLL to the launcher's start for one name.
BOOL Win32Platform::GetUserNameExW(DWORD nameFormat, char16_t* buffer, DWORD* size) {
  if (nameFormat != kNameSamCompatible || size == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const ::HANDLE token = OpenCallerToken();
  if (token == nullptr) return 0;
  std::wstring name;
  const bool found = SamCompatibleName(token, name);
  const ::DWORD error = ::GetLastError();
  ::CloseHandle(token);
  if (!found) {
    ::SetLastError(error);
    return 0;
  }
  if (name.size() + 1 > *size || buffer == nullptr) {
    *size = static_cast<DWORD>(name.size() + 1);
    ::SetLastError(ERROR_MORE_DATA);
    return 0;
  }
  name.copy(Wide(buffer), name.size());
  buffer[name.size()] = u'\0';
  *size = static_cast<DWORD>(name.size());
  return 1;
}

}  // namespace zelmora::platform
