// Starting a program with its output in a pipe, waiting for it and ending it, on Windows.
#include "platform/win32/Win32Platform.h"

namespace zelmora::platform {

BOOL Win32Platform::CreateProcessW(HANDLE, const char16_t*, const char16_t*, HANDLE* output,
                                   HANDLE* process) {
  if (output != nullptr) *output = kInvalidHandle;
  if (process != nullptr) *process = kInvalidHandle;
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

DWORD Win32Platform::WaitForSingleObject(HANDLE process, DWORD milliseconds) {
  return ::WaitForSingleObject(ToNative(process), milliseconds);
}

BOOL Win32Platform::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  DwordParam code(exitCode);
  return ::GetExitCodeProcess(ToNative(process), code.get());
}

BOOL Win32Platform::TerminateProcess(HANDLE process, UINT exitCode) {
  return ::TerminateProcess(ToNative(process), exitCode);
}

const char16_t* Win32Platform::GetCommandLineW() {
  return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

}  // namespace zelmora::platform
