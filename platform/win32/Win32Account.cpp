// The names of the computer and of the account, on Windows.
#include "platform/win32/Win32Platform.h"

namespace zelmora::platform {

BOOL Win32Platform::GetComputerNameW(char16_t* buffer, DWORD* size) {
  DwordParam capacity(size);
  return ::GetComputerNameW(Wide(buffer), capacity.get());
}

BOOL Win32Platform::GetUserNameExW(DWORD, char16_t*, DWORD*) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

}  // namespace zelmora::platform
