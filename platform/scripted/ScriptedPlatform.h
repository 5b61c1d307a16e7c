// A platform for tests: registry, environment, account and standard streams in memory, every
// call logged in order, and any call made to fail on demand.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/common/RegistryCalls.h"

namespace zelmora::platform {

// Every platform call, once: its result, name and parameters. The list makes the Call enum,
// the calls' names and the back-end's overrides, so that a call added to the interface is added
// here and nowhere else in this back-end. The last column tells whether an injected fault can
// change the call's answer: the code-page queries, GetLastError and ExitProcess have no failure
// to report.
#define ZELMORA_SCRIPTED_CALLS(X)                                                                 \
  X(LONG, RegCreateKeyExW,                                                                        \
    (HKEY key, const char16_t* subKey, DWORD reserved, const char16_t* keyClass, DWORD options,   \
     DWORD desiredAccess, const void* securityAttributes, HKEY* result, DWORD* disposition),      \
    true)                                                                                         \
  X(LONG, RegOpenKeyExW,                                                                          \
    (HKEY key, const char16_t* subKey, DWORD options, DWORD desiredAccess, HKEY* result), true)   \
  X(LONG, RegSetValueExW,                                                                         \
    (HKEY key, const char16_t* valueName, DWORD reserved, DWORD type, const std::uint8_t* data,   \
     DWORD dataSize),                                                                             \
    true)                                                                                         \
  X(LONG, RegCloseKey, (HKEY key), true)                                                          \
  X(LONG, RegGetValueW,                                                                           \
    (HKEY key, const char16_t* subKey, const char16_t* valueName, DWORD flags, DWORD* type,       \
     void* data, DWORD* dataSize),                                                                \
    true)                                                                                         \
  X(LONG, RegDeleteTreeW, (HKEY key, const char16_t* subKey), true)                               \
  X(DWORD, GetEnvironmentVariableW, (const char16_t* name, char16_t* buffer, DWORD size), true)   \
  X(BOOL, GetUserNameW, (char16_t* buffer, DWORD* size), true)                                    \
  X(BOOL, GetComputerNameW, (char16_t* buffer, DWORD* size), true)                                \
  X(BOOL, GetUserNameExW, (DWORD nameFormat, char16_t* buffer, DWORD* size), true)                \
  X(HANDLE, GetStdHandle, (DWORD stdHandle), true)                                                \
  X(DWORD, GetFileType, (HANDLE file), true)                                                      \
  X(UINT, GetConsoleOutputCP, (), false)                                                          \
  X(UINT, GetACP, (), false)                                                                      \
  X(int, WideCharToMultiByte,                                                                     \
    (UINT codePage, DWORD flags, const char16_t* wide, int wideLength, char* bytes,               \
     int byteCapacity, const char* defaultChar, BOOL* usedDefaultChar),                           \
    true)                                                                                         \
  X(BOOL, WriteFile,                                                                              \
    (HANDLE file, const void* buffer, DWORD size, DWORD* written, void* overlapped), true)        \
  X(DWORD, GetLastError, (), false)                                                               \
  X(HANDLE, CreateFileW,                                                                          \
    (const char16_t* fileName, DWORD desiredAccess, DWORD shareMode,                              \
     const void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,         \
     HANDLE templateFile),                                                                        \
    true)                                                                                         \
  X(BOOL, GetFileSizeEx, (HANDLE file, std::int64_t * size), true)                                \
  X(BOOL, ReadFile, (HANDLE file, void* buffer, DWORD size, DWORD* read, void* overlapped), true) \
  X(BOOL, CloseHandle, (HANDLE handle), true)                                                     \
  X(BOOL, DeleteFileW, (const char16_t* fileName), true)                                          \
  X(BOOL, GetFileVersionInfoW, (HANDLE file, const char16_t* fileName, DWORD* size, void* data),  \
    true)                                                                                         \
  X(BOOL, CreateProcessW,                                                                         \
    (HANDLE programFile, const char16_t* applicationName, const char16_t* commandLine,            \
     HANDLE* output, HANDLE* process),                                                            \
    true)                                                                                         \
  X(DWORD, WaitForSingleObject, (HANDLE process, DWORD milliseconds), true)                       \
  X(BOOL, GetExitCodeProcess, (HANDLE process, DWORD * exitCode), true)                           \
  X(BOOL, TerminateProcess, (HANDLE process, UINT exitCode), true)                                \
  X(const char16_t*, GetCommandLineW, (), false)                                                  \
  X(BOOL, GetUserPreferredUILanguages,                                                            \
    (DWORD flags, DWORD * numLanguages, char16_t* buffer, DWORD* bufferSize), true)               \
  X(std::size_t, VirtualQuery,                                                                    \
    (const void* address, MemoryBasicInformation* info, std::size_t infoSize), true)              \
  X(DWORD, GetModuleFileNameW, (HMODULE module, char16_t* buffer, DWORD size), true)              \
  X(int, LoadStringW, (HMODULE instance, UINT id, char16_t* buffer, int capacity), true)          \
  X(void, ExitProcess, (UINT exitCode), false)                                                    \
  X(BOOL, InstallFaultHandler, (FaultHandler handler), true)

enum class Call {
#define ZELMORA_CALL_ENUM(result, name, parameters, canFail) name,
  ZELMORA_SCRIPTED_CALLS(ZELMORA_CALL_ENUM)
#undef ZELMORA_CALL_ENUM
};
constexpr std::size_t kCallCount = 0
#define ZELMORA_CALL_COUNT(result, name, parameters, canFail) +1
    ZELMORA_SCRIPTED_CALLS(ZELMORA_CALL_COUNT)
#undef ZELMORA_CALL_COUNT
    ;
const char* CallName(Call call);

// Whether an injected fault can change the call's answer.
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

// A program file, as GetFileVersionInfoW and CreateProcessW meet it through a handle that
// CreateFileW opened for reading. The handle holds the program as it was when opened: a test
// that puts another program (or none) at the path afterwards changes what a later open meets,
// not what the open handle meets, as a held file on Windows cannot be replaced and a held
// descriptor on POSIX stays on the file it opened.
struct ScriptedProgram {
  // Its VS_VERSIONINFO block, which GetFileVersionInfoW copies; none: the program has no version
  // resource, and GetFileVersionInfoW fails with versionError.
  std::optional<std::string> versionBlock;
  LONG versionError = kErrorResourceTypeNotFound;
  // Why CreateProcessW refuses to start it (kErrorAccessDenied, kErrorBadExeFormat,
  // kErrorAccessDisabledByPolicy, ...); none: it starts.
  std::optional<LONG> startError;
  // What it writes to its standard output and standard error together: the bytes that ReadFile
  // on the output pipe reads, then the pipe's end.
  std::string output;
  DWORD exitStatus = 0;
  // It never ends by itself: WaitForSingleObject times out, and GetExitCodeProcess gives
  // kStillActive, until TerminateProcess ends it. Its pipe still reads output, then its end (a
  // real pipe would wait for the program), so that a caller reading too early is not hung.
  bool neverEnds = false;
  // Runs inside CreateProcessW once the program has started, so that it can do to the world
  // what the real program would (write the registry, read the environment).
  std::function<void()> onStart;
};

// A folder, for the files CreateFileW writes anew in it and DeleteFileW deletes. A folder that
// the world does not list exists and allows both.
struct ScriptedFolder {
  bool exists = true;         // missing: both fail with kErrorPathNotFound
  bool allowsWrites = true;   // refused: CreateFileW for writing fails with kErrorAccessDenied
  bool allowsDeletes = true;  // refused: DeleteFileW fails with kErrorAccessDenied
};

// One program that CreateProcessW started: what it was asked.
struct ScriptedStart {
  std::u16string applicationName;
  std::u16string commandLine;
};

// What GetExitCodeProcess gives for a program that still runs, as on Windows (STILL_ACTIVE).
constexpr DWORD kStillActive = 259;

class ScriptedPlatform final : public Platform {
 public:
  ScriptedPlatform();
  ~ScriptedPlatform() override;

  // --- The scripted world ---
  RegistryTree& Registry() { return store_.Tree(); }
  // HKEY_LOCAL_MACHINE, which only RegGetValueW reads.
  RegistryTree& MachineRegistry() { return machineStore_.Tree(); }
  // Files that CreateFileW opens, by exact path. An open file sees what a test changes here
  // meanwhile, as an open file on disk sees a writer's changes; a file removed reads as empty.
  // CreateFileW(kGenericWrite, 0, kCreateAlways) puts an empty file here, which WriteFile on its
  // handle extends; DeleteFileW removes one.
  std::map<std::u16string, std::string, std::less<>> files;
  // Program files, by exact path. CreateFileW opens for reading a path that is here or in files;
  // a file in files alone is no program (GetFileVersionInfoW and CreateProcessW fail with
  // kErrorBadExeFormat). Both calls take a handle open for reading and the very path it was
  // opened with (else kErrorInvalidHandle, kErrorInvalidParameter). CreateProcessW gives a pipe
  // handle (counted by OpenFileHandles) and a process handle (OpenProcessHandles); a program
  // started is at once ended but for neverEnds. WaitForSingleObject's log detail is its time
  // limit in milliseconds. CreateFileW takes only the two ways of Platform.h (else
  // kErrorInvalidParameter); DeleteFileW of a file with a handle open: kErrorSharingViolation.
  std::map<std::u16string, ScriptedProgram, std::less<>> programs;
  // Folders with something other than the default, by exact path (a file's folder is its path
  // up to its last backslash or slash).
  std::map<std::u16string, ScriptedFolder, std::less<>> folders;
  // The programs CreateProcessW started, in order.
  std::vector<ScriptedStart> starts;
  std::vector<std::u16string> uiLanguages{u"en-US"};
  std::map<std::u16string, std::u16string, std::less<>> environment;
  std::optional<std::u16string> userName = u"jdoe";
  std::u16string computerName = u"WS-0142";
  // The account's domain, which GetUserNameExW puts before a backslash and userName; none: the
  // name alone, with no backslash (which no Windows gives, for tests of that odd origin).
  std::optional<std::u16string> domain = u"CORP";
  // What GetCommandLineW gives; none: modulePath in quotes, as a program started with no
  // arguments has it. The text returned is valid until the next GetCommandLineW.
  std::optional<std::u16string> commandLine;
  ScriptedStream out;
  ScriptedStream err;
  UINT consoleCodePage = kCodePageUtf8;
  UINT ansiCodePage = kCodePageUtf8;
  UINT oemCodePage = kCodePageUtf8;
  std::u16string modulePath = u"C:\\Program Files\\Quorvane\\zelmora-setup.exe";
  std::uintptr_t imageBase = 0x140000000;
  // Runs as each call begins, once it is logged, so that a test can change the world between
  // two calls.
  std::function<void(Call)> onCall;

  // --- Faults ---
  // The nth call (counted from 1) of that kind fails with code.
  void FailCall(Call call, int nth, LONG code);
  // The call at this position of the log (counted from 0) fails with code.
  void FailAt(std::size_t position, LONG code);
  // The call at this position runs out of memory: it throws std::bad_alloc, as an allocation
  // inside it would.
  void ExhaustMemoryAt(std::size_t position);
  // The nth call (counted from 1) of that kind faults: the installed fault handler gets the
  // fault, as the system would hand it over. The handler ends the process by throwing from
  // ExitProcess, so the fault must strike where no guard of the code under test catches all.
  void FaultAt(Call call, int nth, const ProcessorFault& fault);
  // What a fault with no handler installed ends the process with.
  static constexpr UINT kUnhandledFaultStatus = 0xC0000005;
  const std::vector<CallRecord>& Log() const { return log_; }
  std::size_t OpenKeyHandles() const { return calls_.OpenHandleCount(); }
  // Files and program output pipes open.
  std::size_t OpenFileHandles() const { return openFiles_.size(); }
  std::size_t OpenProcessHandles() const { return processes_.size(); }

  // --- Platform ---
#define ZELMORA_CALL_OVERRIDE(result, name, parameters, canFail) result name parameters override;
  ZELMORA_SCRIPTED_CALLS(ZELMORA_CALL_OVERRIDE)
#undef ZELMORA_CALL_OVERRIDE

 private:
  // Logs the call and tells the injected fault's code, if this call is to fail.
  std::optional<LONG> Enter(Call call, std::u16string_view detail);
  ScriptedStream* StreamOf(HANDLE file);
  struct OpenFile;
  // Logs a call on an open file; the file, or null when the call fails (GetLastError tells why).
  OpenFile* EnterFileCall(Call call, HANDLE file);

  MemoryKeyStore store_;
  RegistryCalls calls_;
  MemoryKeyStore machineStore_;
  RegistryCalls machineCalls_;
  struct OpenFile {
    std::u16string path;
    std::size_t position = 0;
    bool writable = false;
    // For a program file, the program as it was at the open; for a program's output, its bytes.
    std::optional<ScriptedProgram> program;
    std::optional<std::string> pipe;
  };
  struct RunningProgram {
    ScriptedProgram program;
    std::optional<DWORD> terminatedWith;
    bool Ended() const { return !program.neverEnds || terminatedWith.has_value(); }
  };
  // The folder's settings for a file at path.
  ScriptedFolder FolderOf(std::u16string_view path) const;
  HANDLE OpenWritten(std::u16string_view path);
  RunningProgram* EnterProcessCall(Call call, HANDLE process, std::u16string_view detail);
  BOOL WriteToFile(HANDLE file, const void* buffer, DWORD size, DWORD* written);
  std::string_view Contents(const OpenFile& file) const;
  std::map<std::uintptr_t, OpenFile> openFiles_;
  std::uintptr_t nextFile_ = 0x100;  // far from the standard streams' handles
  std::map<std::uintptr_t, RunningProgram> processes_;
  std::uintptr_t nextProcess_ = 0x10000;  // far from the files' handles
  std::u16string commandLineText_;
  std::vector<CallRecord> log_;
  std::vector<std::u16string> spareDetails_;  // storage for the details of the next records
  std::array<int, kCallCount> counts_{};
  std::map<std::pair<Call, int>, LONG> callFaults_;
  std::map<std::size_t, LONG> positionFaults_;
  std::set<std::size_t> memoryFaults_;
  std::map<std::pair<Call, int>, ProcessorFault> processorFaults_;
  FaultHandler faultHandler_ = nullptr;
  DWORD lastError_ = 0;
};

}  // namespace zelmora::platform
