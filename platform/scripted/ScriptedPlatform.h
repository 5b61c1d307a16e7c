// A platform for tests: registry, environment, account and standard streams in memory, every
// call logged in order, and any call made to fail on demand.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/common/RegistryCalls.h"

namespace zelmora::platform {

enum class Call {
  RegCreateKeyExW,
  RegOpenKeyExW,
  RegSetValueExW,
  RegCloseKey,
  GetEnvironmentVariableW,
  GetUserNameW,
  GetStdHandle,
  GetFileType,
  GetConsoleOutputCP,
  GetACP,
  WideCharToMultiByte,
  WriteFile,
  GetLastError,
  VirtualQuery,
  GetModuleFileNameW,
  LoadStringW,
  ExitProcess,
};
const char* CallName(Call call);

// Whether an injected fault can change the call's answer. The code-page queries, GetLastError
// and ExitProcess have no failure to report.
bool CanFail(Call call);

struct CallRecord {
  Call call;
  std::u16string detail;  // the key path, value name, variable or handle the call was about
};

// One standard stream: what kind of handle it is and the bytes it received.
struct ScriptedStream {
  DWORD fileType = kFileTypePipe;
  std::string bytes;
  std::vector<std::size_t> writeSizes;  // one entry per successful WriteFile
  // Bytes the stream still takes before writes fail with kErrorDiskFull; none: unlimited.
  std::optional<std::size_t> room;
};

class ScriptedPlatform final : public Platform {
 public:
  ScriptedPlatform();
  ~ScriptedPlatform() override;

  // --- The scripted world ---
  RegistryTree& Registry() { return store_.Tree(); }
  std::map<std::u16string, std::u16string> environment;
  std::optional<std::u16string> userName = u"jdoe";
  ScriptedStream out;
  ScriptedStream err;
  UINT consoleCodePage = kCodePageUtf8;
  UINT ansiCodePage = kCodePageUtf8;
  UINT oemCodePage = kCodePageUtf8;
  std::u16string modulePath = u"C:\\Program Files\\Quorvane\\zelmora-setup.exe";
  std::uintptr_t imageBase = 0x140000000;

  // --- Faults ---
  // The nth call (counted from 1) of that kind fails with code.
  void FailCall(Call call, int nth, LONG code);
  // The call at this position of the log (counted from 0) fails with code.
  void FailAt(std::size_t position, LONG code);
  // The call at this position runs out of memory: it throws std::bad_alloc, as an allocation
  // inside it would.
  void ExhaustMemoryAt(std::size_t position);
  const std::vector<CallRecord>& Log() const { return log_; }
  std::size_t OpenKeyHandles() const { return calls_.OpenHandleCount(); }

  // --- Platform ---
  LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, const char16_t* keyClass,
                       DWORD options, DWORD desiredAccess, const void* securityAttributes,
                       HKEY* result, DWORD* disposition) override;
  LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, DWORD desiredAccess,
                     HKEY* result) override;
  LONG RegSetValueExW(HKEY key, const char16_t* valueName, DWORD reserved, DWORD type,
                      const std::uint8_t* data, DWORD dataSize) override;
  LONG RegCloseKey(HKEY key) override;
  DWORD GetEnvironmentVariableW(const char16_t* name, char16_t* buffer, DWORD size) override;
  BOOL GetUserNameW(char16_t* buffer, DWORD* size) override;
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
  std::size_t VirtualQuery(const void* address, MemoryBasicInformation* info,
                           std::size_t infoSize) override;
  DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size) override;
  int LoadStringW(HMODULE instance, UINT id, char16_t* buffer, int capacity) override;
  [[noreturn]] void ExitProcess(UINT exitCode) override;

 private:
  // Logs the call and tells the injected fault's code, if this call is to fail.
  std::optional<LONG> Enter(Call call, std::u16string detail);
  ScriptedStream* StreamOf(HANDLE file);

  MemoryKeyStore store_;
  RegistryCalls calls_;
  std::vector<CallRecord> log_;
  std::array<int, static_cast<std::size_t>(Call::ExitProcess) + 1> counts_{};
  std::map<std::pair<Call, int>, LONG> callFaults_;
  std::map<std::size_t, LONG> positionFaults_;
  std::set<std::size_t> memoryFaults_;
  DWORD lastError_ = 0;
};

}  // namespace zelmora::platform
