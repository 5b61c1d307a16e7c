// The Windows back-end: each platform call is the Windows API call of the same name, with only the
// portable types converted (NativeConstants.cpp shows that the values need no mapping). The
// calls are defined by concern: Win32Platform.cpp the pass-through ones and the fault handling,
// Win32Process.cpp the program starts, Win32ProgramFiles.cpp the version resource,
// Win32Account.cpp the names of the computer and the account.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/Platform.h"

namespace zelmora::platform {

inline ::HKEY ToNative(HKEY key) {
  return reinterpret_cast<::HKEY>(static_cast<std::uintptr_t>(key));
}
inline HKEY FromNative(::HKEY key) {
  return static_cast<HKEY>(reinterpret_cast<std::uintptr_t>(key));
}

inline ::HANDLE ToNative(HANDLE handle) {
  return reinterpret_cast<::HANDLE>(static_cast<std::uintptr_t>(handle));
}
inline HANDLE FromNative(::HANDLE handle) {
  return static_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(handle));
}

// kExecutableModule is the null handle, which some calls would read as "the system".
inline ::HMODULE ToNative(HMODULE module) {
  return module == kExecutableModule
             ? ::GetModuleHandleW(nullptr)
             : reinterpret_cast<::HMODULE>(static_cast<std::uintptr_t>(module));
}

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

inline ::DWORD ToNative(DWORD value) { return value; }
inline DWORD FromNative(::DWORD value) { return static_cast<DWORD>(value); }

// An in/out parameter whose native type differs from the portable one (::DWORD is another type
// of the same size, a key handle a pointer): the value is copied in before the call and back
// afterwards. A null pointer stays null.
template <typename Portable, typename Native>
class InOutParam {
 public:
  explicit InOutParam(Portable* portable)
      : portable_(portable), native_(portable ? ToNative(*portable) : Native{}) {}
  ~InOutParam() {
    if (portable_ != nullptr) *portable_ = FromNative(native_);
  }
  InOutParam(const InOutParam&) = delete;
  InOutParam& operator=(const InOutParam&) = delete;
  Native* get() { return portable_ != nullptr ? &native_ : nullptr; }

 private:
  Portable* portable_;
  Native native_;
};
using DwordParam = InOutParam<DWORD, ::DWORD>;
using KeyParam = InOutParam<HKEY, ::HKEY>;

class Win32Platform final : public Platform {
 public:
  LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, const char16_t* keyClass,
                       DWORD options, DWORD desiredAccess, const void* securityAttributes,
                       HKEY* result, DWORD* disposition) override;
  LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, DWORD desiredAccess,
                     HKEY* result) override;
  LONG RegSetValueExW(HKEY key, const char16_t* valueName, DWORD reserved, DWORD type,
                      const std::uint8_t* data, DWORD dataSize) override;
  LONG RegCloseKey(HKEY key) override;
  LONG RegGetValueW(HKEY key, const char16_t* subKey, const char16_t* valueName, DWORD flags,
                    DWORD* type, void* data, DWORD* dataSize) override;
  LONG RegDeleteTreeW(HKEY key, const char16_t* subKey) override;
  DWORD GetEnvironmentVariableW(const char16_t* name, char16_t* buffer, DWORD size) override;
  BOOL GetUserNameW(char16_t* buffer, DWORD* size) override;
  BOOL GetComputerNameW(char16_t* buffer, DWORD* size) override;
  BOOL GetUserNameExW(DWORD nameFormat, char16_t* buffer, DWORD* size) override;
  HANDLE GetStdHandle(DWORD stdHandle) override;
  DWORD GetFileType(HANDLE file) override;
  UINT GetConsoleOutputCP() override;
  UINT GetACP() override;
  int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide, int wideLength,
                          char* bytes, int byteCapacity, const char* defaultChar,
                          BOOL* usedDefaultChar) override;
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written,
                 void* overlapped) override;
  DWORD GetLastError() override;
  HANDLE CreateFileW(const char16_t* fileName, DWORD desiredAccess, DWORD shareMode,
                     const void* securityAttributes, DWORD creationDisposition,
                     DWORD flagsAndAttributes, HANDLE templateFile) override;
  BOOL GetFileSizeEx(HANDLE file, std::int64_t* size) override;
  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void* overlapped) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL DeleteFileW(const char16_t* fileName) override;
  BOOL GetFileVersionInfoW(HANDLE file, const char16_t* fileName, DWORD* size, void* data) override;
  BOOL CreateProcessW(HANDLE programFile, const char16_t* applicationName,
                      const char16_t* commandLine, HANDLE* output, HANDLE* process) override;
  DWORD WaitForSingleObject(HANDLE process, DWORD milliseconds) override;
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override;
  BOOL TerminateProcess(HANDLE process, UINT exitCode) override;
  const char16_t* GetCommandLineW() override;
  BOOL GetUserPreferredUILanguages(DWORD flags, DWORD* numLanguages, char16_t* buffer,
                                   DWORD* bufferSize) override;
  std::size_t VirtualQuery(const void* address, MemoryBasicInformation* info,
                           std::size_t infoSize) override;
  DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size) override;
  int LoadStringW(HMODULE instance, UINT id, char16_t* buffer, int capacity) override;
  [[noreturn]] void ExitProcess(UINT exitCode) override;
  BOOL InstallFaultHandler(FaultHandler handler) override;
};

}  // namespace zelmora::platform
