// A program file's version resource, and files deleted, on Windows.
#include "platform/win32/Win32Platform.h"

namespace zelmora::platform {

BOOL Win32Platform::GetFileVersionInfoW(HANDLE, const char16_t*, DWORD*, void*) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

BOOL Win32Platform::DeleteFileW(const char16_t* fileName) { return ::DeleteFileW(Wide(fileName)); }

LONG Win32Platform::RegDeleteTreeW(HKEY key, const char16_t* subKey) {
  return ::RegDeleteTreeW(ToNative(key), Wide(subKey));
}

}  // namespace zelmora::platform
