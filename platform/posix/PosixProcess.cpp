// Starting a program with its output in a pipe, waiting for it and ending it, on POSIX.
#include "platform/posix/PosixPlatform.h"

namespace zelmora::platform {

BOOL PosixPlatform::CreateProcessW(HANDLE, const char16_t*, const char16_t*, HANDLE*, HANDLE*) {
  Fail(kErrorGenFailure);
  return 0;
}

DWORD PosixPlatform::WaitForSingleObject(HANDLE, DWORD) {
  Fail(kErrorInvalidHandle);
  return kWaitFailed;
}

BOOL PosixPlatform::GetExitCodeProcess(HANDLE, DWORD*) {
  Fail(kErrorInvalidHandle);
  return 0;
}

BOOL PosixPlatform::TerminateProcess(HANDLE, UINT) {
  Fail(kErrorInvalidHandle);
  return 0;
}

const char16_t* PosixPlatform::GetCommandLineW() { return u""; }

BOOL PosixPlatform::GetFileVersionInfoW(HANDLE, const char16_t*, DWORD*, void*) {
  Fail(kErrorBadExeFormat);
  return 0;
}

BOOL PosixPlatform::DeleteFileW(const char16_t*) {
  Fail(kErrorGenFailure);
  return 0;
}

BOOL PosixPlatform::GetComputerNameW(char16_t*, DWORD*) {
  Fail(kErrorGenFailure);
  return 0;
}

BOOL PosixPlatform::GetUserNameExW(DWORD, char16_t*, DWORD*) {
  Fail(kErrorGenFailure);
  return 0;
}

LONG PosixPlatform::RegDeleteTreeW(HKEY, const char16_t*) { return Fail(kErrorGenFailure); }

void SetNativeArguments(int, const char* const*) {}

}  // namespace zelmora::platform
