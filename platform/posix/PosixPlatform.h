// The platform calls on a POSIX system. The registry is a file in the user's configuration
// folder; the console is the process's file descriptors; text meets the system as UTF-8.
#pragma once

#include <climits>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/common/RegistryCalls.h"

namespace zelmora::platform {

struct ChildProcess;
struct ProcessTable;

class PosixPlatform final : public Platform {
 public:
  PosixPlatform();
  ~PosixPlatform() override;

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

 private:
  // The current user's hive, opened at the first registry call; null when the user has no home.
  RegistryCalls* Registry();
  // The machine's hive, opened at its first read; only ever read, through a link too.
  RegistryCalls* MachineRegistry();
  // Records the error of a failed call for GetLastError, and returns it.
  LONG Fail(LONG code);
  // The program a handle stands for, or null.
  ChildProcess* FindProcess(HANDLE handle);
  // Reaps the program when it has ended, or with block once it ends; ended tells which. False,
  // with the error recorded, when the system cannot tell.
  bool Reap(ChildProcess& child, bool block, bool& ended);
  // Releases a program's handle; false when handle stands for no program.
  bool CloseProcessHandle(HANDLE handle);
  // Stores a name for GetComputerNameW and GetUserNameExW; tooSmall is their code for a buffer
  // that cannot hold it.
  BOOL CopyName(const std::u16string& name, char16_t* buffer, DWORD* size, LONG tooSmall);
  // CreateFileW for writing a file anew.
  HANDLE CreateForWriting(const char16_t* fileName);

  struct RegistryState;
  std::unique_ptr<RegistryState> registry_;
  bool registryLookedUp_ = false;
  std::unique_ptr<RegistryState> machineRegistry_;
  std::unique_ptr<ProcessTable> processes_;
  DWORD lastError_ = 0;
};

// A handle is a file descriptor plus one, so that none is null.
inline HANDLE HandleOfDescriptor(int fd) {
  return static_cast<HANDLE>(static_cast<std::uintptr_t>(fd) + 1);
}
inline int DescriptorOfHandle(HANDLE handle) {
  const auto value = static_cast<std::uintptr_t>(handle);
  // Values beyond every descriptor's are other handles (a program's), never a descriptor.
  if (value == 0 || value - 1 > static_cast<std::uintptr_t>(INT_MAX)) return -1;
  return static_cast<int>(value - 1);
}

}  // namespace zelmora::platform
