// The platform calls the tool is built on, declared once with their contracts.
//
// The logic above this layer (registry/, installer/, launcher/, entry/) calls only these, through
// System().
// Each back-end supplies all of them: win32/ maps them onto the real Windows API one to one, posix/
// provides them on a POSIX system (the registry is a file), and scripted/ is an in-memory fake for
// tests that can make any call fail. Types and constants carry the Windows values so that the Win32
// back-end passes them through unchanged; names avoid the Windows header's macros.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelmora::platform {

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;  // nonzero means true

// Opaque, pointer-sized handles. Only the back-end that issued one looks inside it.
enum class HKEY : std::uintptr_t {};
enum class HANDLE : std::uintptr_t {};
enum class HMODULE : std::uintptr_t {};

constexpr HKEY kNoKey{0};
constexpr HMODULE kExecutableModule{0};

// The predefined roots are sign-extended 32-bit constants, as on Windows.
constexpr HKEY PredefinedKey(std::int32_t value) {
  return static_cast<HKEY>(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(value)));
}
constexpr HKEY kHkeyClassesRoot = PredefinedKey(static_cast<std::int32_t>(0x80000000u));
constexpr HKEY kHkeyCurrentUser = PredefinedKey(static_cast<std::int32_t>(0x80000001u));
constexpr HKEY kHkeyLocalMachine = PredefinedKey(static_cast<std::int32_t>(0x80000002u));
constexpr HKEY kHkeyUsers = PredefinedKey(static_cast<std::int32_t>(0x80000003u));

constexpr HANDLE kInvalidHandle = static_cast<HANDLE>(~std::uintptr_t{0});

// Win32 error codes that the back-ends produce.
constexpr LONG kErrorSuccess = 0;
constexpr LONG kErrorFileNotFound = 2;
constexpr LONG kErrorPathNotFound = 3;
constexpr LONG kErrorTooManyOpenFiles = 4;
constexpr LONG kErrorAccessDenied = 5;
constexpr LONG kErrorInvalidHandle = 6;
constexpr LONG kErrorNotEnoughMemory = 8;
constexpr LONG kErrorWriteProtect = 19;
constexpr LONG kErrorGenFailure = 31;
constexpr LONG kErrorSharingViolation = 32;
constexpr LONG kErrorFileExists = 80;
constexpr LONG kErrorInvalidParameter = 87;
constexpr LONG kErrorBrokenPipe = 109;
constexpr LONG kErrorDiskFull = 112;
constexpr LONG kErrorInsufficientBuffer = 122;
constexpr LONG kErrorBufferOverflow = 111;
constexpr LONG kErrorBadPathname = 161;
constexpr LONG kErrorBadExeFormat = 193;
constexpr LONG kErrorEnvvarNotFound = 203;
constexpr LONG kErrorFileTooLarge = 223;
constexpr LONG kErrorMoreData = 234;
constexpr LONG kErrorWaitTimeout = 258;
constexpr LONG kErrorRegistryCorrupt = 1015;
constexpr LONG kErrorKeyDeleted = 1018;
constexpr LONG kErrorIoDevice = 1117;
constexpr LONG kErrorNoUnicodeTranslation = 1113;
constexpr LONG kErrorAccessDisabledByPolicy = 1260;
constexpr LONG kErrorResourceDataNotFound = 1812;
constexpr LONG kErrorResourceTypeNotFound = 1813;
constexpr LONG kErrorUnsupportedType = 1630;

// Registry constants.
constexpr DWORD kKeyAllAccess = 0xF003F;
constexpr DWORD kRegOptionNonVolatile = 0;
constexpr DWORD kRegCreatedNewKey = 1;
constexpr DWORD kRegOpenedExistingKey = 2;
constexpr DWORD kRegNone = 0;
constexpr DWORD kRegSz = 1;
constexpr DWORD kRegExpandSz = 2;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
constexpr DWORD kRegMultiSz = 7;
constexpr DWORD kRegQword = 11;
constexpr DWORD kRrfRtRegSz = 0x00000002;  // RegGetValueW: REG_SZ values only
constexpr DWORD kRrfRtAny = 0x0000FFFF;    // RegGetValueW: values of any type

// Console constants.
constexpr DWORD kStdOutputHandle = static_cast<DWORD>(-11);
constexpr DWORD kStdErrorHandle = static_cast<DWORD>(-12);
constexpr DWORD kFileTypeUnknown = 0;
constexpr DWORD kFileTypeDisk = 1;
constexpr DWORD kFileTypeChar = 2;
constexpr DWORD kFileTypePipe = 3;
constexpr UINT kCodePageOem = 1;  // CP_OEMCP
constexpr UINT kCodePageUtf8 = 65001;

// File constants (CreateFileW).
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kFileShareRead = 0x00000001;
constexpr DWORD kCreateAlways = 2;
constexpr DWORD kOpenExisting = 3;
constexpr DWORD kFileAttributeNormal = 0x00000080;
constexpr HANDLE kNoHandle{0};

// Process constants.
constexpr DWORD kInfinite = 0xFFFFFFFF;
constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kWaitTimeout = 258;
constexpr DWORD kWaitFailed = 0xFFFFFFFF;

// Account constants (GetUserNameExW).
constexpr DWORD kNameSamCompatible = 2;  // "DOMAIN\user"

// Language constants.
constexpr DWORD kMuiLanguageName = 0x8;  // GetUserPreferredUILanguages: tags such as "he-IL"

// Memory query (the fields of MEMORY_BASIC_INFORMATION that callers read).
constexpr DWORD kMemCommit = 0x1000;
struct MemoryBasicInformation {
  const void* BaseAddress = nullptr;
  const void* AllocationBase = nullptr;
  DWORD AllocationProtect = 0;
  std::size_t RegionSize = 0;
  DWORD State = 0;
  DWORD Protect = 0;
  DWORD Type = 0;
};

// A processor fault, as every back-end describes it.
enum class FaultKind : std::uint8_t {
  InvalidRead,      // memory that may not be read (executing it counts as reading it)
  InvalidWrite,     // memory that may not be written
  InvalidAccess,    // an invalid access whose direction the system does not tell
  DivisionByZero,   // integer division
  IntegerOverflow,  // an integer operation that traps on overflow
  FloatingPoint,    // a floating-point exception that someone unmasked
  StackOverflow,
  IllegalInstruction,  // an undefined or privileged instruction
};
struct ProcessorFault {
  FaultKind kind = FaultKind::InvalidAccess;
  const void* instruction = nullptr;  // the faulting instruction; null when the system hides it
  const void* accessed = nullptr;     // for an invalid access, the address accessed
};
// Runs on the faulting thread with stack to spare, where only what is safe in a signal handler
// may be done: no heap, no locks. It ends the process with ExitProcess.
using FaultHandler = void (*)(const ProcessorFault& fault);

// A back-end may end the process by throwing this from ExitProcess (the scripted one does, so
// that a test outlives the "process"). Guards that catch every failure let it pass.
struct ProcessExit {
  UINT status;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // --- Registry (advapi32) ---------------------------------------------------------------------
  // Opens the key at subKey below key, creating every missing key along the path in one call.
  // An existing key is opened untouched. Returns kErrorSuccess and a new handle in *result
  // (valid until RegCloseKey), or a nonzero code. *disposition, when given, tells created from
  // opened. Created keys persist after the process.
  [[nodiscard]] virtual LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved,
                                             const char16_t* keyClass, DWORD options,
                                             DWORD desiredAccess, const void* securityAttributes,
                                             HKEY* result, DWORD* disposition) = 0;
  // Opens an existing key only; a missing key yields a nonzero code. An empty subKey yields a
  // new handle to key itself.
  [[nodiscard]] virtual LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options,
                                           DWORD desiredAccess, HKEY* result) = 0;
  // Stores type and bytes under valueName, replacing any value of that name whatever its type.
  // A null key handle yields a nonzero code and stores nothing.
  [[nodiscard]] virtual LONG RegSetValueExW(HKEY key, const char16_t* valueName, DWORD reserved,
                                            DWORD type, const std::uint8_t* data,
                                            DWORD dataSize) = 0;
  // Releases a handle. Predefined roots are never really closed.
  virtual LONG RegCloseKey(HKEY key) = 0;
  // Reads the value valueName of the key at subKey below key (null or empty subKey: key itself)
  // in one call, leaving no handle open; it changes nothing. key may be kHkeyCurrentUser or
  // kHkeyLocalMachine. flags is kRrfRtRegSz (a value of another type yields
  // kErrorUnsupportedType) or kRrfRtAny. On entry *dataSize is data's capacity in bytes. Success:
  // kErrorSuccess, *type (when type is given), the bytes in data and their count in *dataSize; a
  // REG_SZ value that lacks its terminating zero unit gets one, counted. With data null, only
  // *dataSize is set. Bytes that do not fit: kErrorMoreData, with *dataSize set to the size
  // needed. A missing key or value (or, off Windows, a hive with no file, or a machine hive that
  // cannot be read): kErrorFileNotFound.
  virtual LONG RegGetValueW(HKEY key, const char16_t* subKey, const char16_t* valueName,
                            DWORD flags, DWORD* type, void* data, DWORD* dataSize) = 0;
  // Deletes the key at subKey below key (a predefined root), with all its values and subkeys,
  // in one call. Returns kErrorSuccess, kErrorFileNotFound when there is no such key (nothing
  // changes), or another nonzero code, after which part of the tree may be gone.
  virtual LONG RegDeleteTreeW(HKEY key, const char16_t* subKey) = 0;

  // --- Environment and account -----------------------------------------------------------------
  // Value fits with its NUL into size: stores both, returns the length without the NUL (so the
  // result is below size). Does not fit: returns the size needed, NUL included (above size).
  // Unset or empty: returns 0.
  [[nodiscard]] virtual DWORD GetEnvironmentVariableW(const char16_t* name, char16_t* buffer,
                                                      DWORD size) = 0;
  // On entry *size is the buffer's capacity in units. Success: stores the logon name of the
  // account the thread runs as (no domain) and a NUL, sets *size to the units stored with the
  // NUL, returns nonzero. Failure (including a name that does not fit): returns 0.
  [[nodiscard]] virtual BOOL GetUserNameW(char16_t* buffer, DWORD* size) = 0;

  // The name of this computer (its NetBIOS name; off Windows the host name up to its first
  // dot). On entry *size is the buffer's capacity in units. Success: nonzero, the name and a NUL
  // stored, and the name's length without the NUL in *size. A name that does not fit: 0 with
  // kErrorBufferOverflow and the units needed, NUL included, in *size.
  [[nodiscard]] virtual BOOL GetComputerNameW(char16_t* buffer, DWORD* size) = 0;
  // The name of the account the thread runs as, in format kNameSamCompatible (nothing else is
  // supported: kErrorInvalidParameter): its domain, a backslash and its logon name; a local
  // account's domain is the computer's name (off Windows always so). The buffer and *size as for
  // GetComputerNameW, but a name that does not fit gives kErrorMoreData.
  [[nodiscard]] virtual BOOL GetUserNameExW(DWORD nameFormat, char16_t* buffer, DWORD* size) = 0;

  // --- Console and files (kernel32) ------------------------------------------------------------
  virtual HANDLE GetStdHandle(DWORD stdHandle) = 0;
  // kFileTypeChar for a console or other character device, kFileTypeDisk or kFileTypePipe for a
  // file or a pipe, kFileTypeUnknown for a handle that is unusable.
  virtual DWORD GetFileType(HANDLE file) = 0;
  virtual UINT GetConsoleOutputCP() = 0;
  // The system's ANSI code page.
  virtual UINT GetACP() = 0;
  // Converts UTF-16 into codePage. With byteCapacity 0 returns the byte count needed; otherwise
  // converts and returns the bytes written, or 0 on failure (GetLastError tells why). A
  // character without a mapping becomes the code page's default character, and
  // *usedDefaultChar, when given, tells whether any did. A UTF-8 code page maps every character
  // and fails with kErrorInvalidParameter when given defaultChar or usedDefaultChar; off
  // Windows the system's code pages (ANSI, OEM) are UTF-8.
  [[nodiscard]] virtual int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide,
                                                int wideLength, char* bytes, int byteCapacity,
                                                const char* defaultChar, BOOL* usedDefaultChar) = 0;
  // Writes the bytes to a standard stream or to a file that CreateFileW opened for writing;
  // nonzero on success. On failure GetLastError gives the Windows error code.
  virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written,
                         void* overlapped) = 0;
  // The error code of this thread's last failed call.
  virtual DWORD GetLastError() = 0;
  // Opens a file, in one of two ways; the back-ends other than Win32 support nothing else
  // (kErrorInvalidParameter). Always without security attributes, with kFileAttributeNormal and
  // no template.
  // - Reading an existing file: kGenericRead, kFileShareRead, kOpenExisting. While the handle is
  //   open, nobody can write, replace, rename or delete the file on Windows (it shares neither
  //   write nor delete access); off Windows nothing stops a rename over its name, but the handle
  //   stays on the file it opened, so that everything done through the handle (ReadFile,
  //   GetFileVersionInfoW, CreateProcessW) meets that one file.
  // - Writing a file anew: kGenericWrite, share mode 0, kCreateAlways: a new file, or an existing
  //   one emptied. Off Windows a symbolic link at the name is not followed (kErrorAccessDenied),
  //   and a new file gets the permissions an ordinary file gets (0666 less the umask).
  // Returns a handle for ReadFile or WriteFile, GetFileSizeEx and CloseHandle, or kInvalidHandle
  // with GetLastError telling why: kErrorFileNotFound or kErrorPathNotFound when there is no
  // such file or folder, kErrorAccessDenied for a folder, or off Windows anything but a regular
  // file.
  virtual HANDLE CreateFileW(const char16_t* fileName, DWORD desiredAccess, DWORD shareMode,
                             const void* securityAttributes, DWORD creationDisposition,
                             DWORD flagsAndAttributes, HANDLE templateFile) = 0;
  // The size in bytes of an open file into *size; nonzero on success.
  virtual BOOL GetFileSizeEx(HANDLE file, std::int64_t* size) = 0;
  // Reads at most size bytes from the file's position on, which it advances; nonzero on success,
  // with the count in *read: 0 at the end of the file, and fewer than asked is no failure.
  virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void* overlapped) = 0;
  // Closes a handle that CreateFileW or CreateProcessW gave (a file, the read end of a program's
  // output, a program); nonzero on success. Closing a program's handle neither ends nor waits
  // for the program.
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  // Deletes a file; nonzero on success. No such file: 0 with kErrorFileNotFound (or
  // kErrorPathNotFound for a missing folder); a folder may forbid it (kErrorAccessDenied).
  virtual BOOL DeleteFileW(const char16_t* fileName) = 0;

  // --- Program files and processes (kernel32) --------------------------------------------------
  // Copies the version resource of a program file (its VS_VERSIONINFO block, as the linker
  // stored it) into data. file is a handle that CreateFileW opened for reading fileName, and
  // holds it: the back-end reads the block of that very file (Win32 through the resource calls
  // on fileName, which the handle keeps from being replaced; POSIX through the handle). On entry
  // *size is data's capacity in bytes. Success: nonzero, the block's bytes in data and their
  // count in *size. A block that does not fit: 0 with kErrorInsufficientBuffer and the size
  // needed in *size. A program without a version resource: 0 with kErrorResourceTypeNotFound or
  // kErrorResourceDataNotFound; a file that is no program: 0 with kErrorBadExeFormat (off
  // Windows: a file without the block).
  virtual BOOL GetFileVersionInfoW(HANDLE file, const char16_t* fileName, DWORD* size,
                                   void* data) = 0;
  // Starts the program file applicationName (a full path: nothing is searched, no PATH, no
  // current folder), held open by programFile as for GetFileVersionInfoW (off Windows the open
  // file is what is executed, whatever its name now holds), with commandLine as its command
  // line. The program runs as the caller's user, with the caller's environment and current
  // folder, no window of its own, standard input from nothing, and standard output and standard
  // error both into one new pipe of at least 64 KiB, whose read end *output receives (for
  // ReadFile, which reads 0 bytes once the program and everything that inherited the pipe have
  // ended; and CloseHandle). Nothing else of the caller's is inherited. Success: nonzero, and
  // *process is the program's handle (for WaitForSingleObject, GetExitCodeProcess,
  // TerminateProcess and CloseHandle). Failure: 0, with GetLastError telling why the program
  // could not be started (kErrorAccessDenied, kErrorBadExeFormat, kErrorAccessDisabledByPolicy,
  // ...); nothing is left open.
  virtual BOOL CreateProcessW(HANDLE programFile, const char16_t* applicationName,
                              const char16_t* commandLine, HANDLE* output, HANDLE* process) = 0;
  // Waits at most milliseconds (kInfinite: without a limit) for a program that CreateProcessW
  // started to end. Returns kWaitObject0 once it has ended, kWaitTimeout when it still runs, or
  // kWaitFailed (GetLastError tells why).
  virtual DWORD WaitForSingleObject(HANDLE process, DWORD milliseconds) = 0;
  // The exit status of a program that has ended, into *exitCode; nonzero on success. Off
  // Windows a program ended by a signal gives 128 plus the signal's number, as shells tell it.
  virtual BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) = 0;
  // Ends a program that CreateProcessW started, with exitCode as its status; nonzero on success.
  virtual BOOL TerminateProcess(HANDLE process, UINT exitCode) = 0;
  // The process's own command line, as Windows keeps it: the program, then its arguments, quoted
  // as CreateProcessW takes them. Off Windows it is made from main's arguments
  // (SetNativeArguments), each quoted in that form, so that one parser serves both. Valid for
  // the life of the process.
  virtual const char16_t* GetCommandLineW() = 0;

  // --- Language (kernel32) ---------------------------------------------------------------------
  // The user's preferred interface languages, the most preferred first, with flags
  // kMuiLanguageName: each a language tag ("he-IL") ended by a NUL, and the list ended by one
  // more NUL (a list with no language is one NUL alone). On entry *bufferSize is the buffer's
  // capacity in units; a null buffer with capacity 0 asks only for the size. Success: nonzero,
  // the tags in *numLanguages and the units stored (or needed), the last NUL included, in
  // *bufferSize. A list that does not fit: 0 with kErrorInsufficientBuffer. Off Windows the
  // language comes from the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty,
  // without its code set and modifier, "_" read as "-" ("he_IL.UTF-8" gives "he-IL"); "C" and
  // "POSIX" give none.
  virtual BOOL GetUserPreferredUILanguages(DWORD flags, DWORD* numLanguages, char16_t* buffer,
                                           DWORD* bufferSize) = 0;

  // --- Failure report and process end ----------------------------------------------------------
  // Describes the memory region holding address; returns the bytes filled into *info, 0 when
  // nothing is known about it.
  [[nodiscard]] virtual std::size_t VirtualQuery(const void* address, MemoryBasicInformation* info,
                                                 std::size_t infoSize) = 0;
  // The path of module (kExecutableModule: the executable) into buffer, NUL-terminated when it
  // fits; returns its length without the NUL, or 0 on failure. A path that does not fit is cut
  // at size - 1 units and size is returned.
  [[nodiscard]] virtual DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size) = 0;
  // Copies string `id` of the module's string table into buffer (at most capacity - 1 units and
  // a NUL); returns its length, 0 when there is no such string.
  [[nodiscard]] virtual int LoadStringW(HMODULE instance, UINT id, char16_t* buffer,
                                        int capacity) = 0;
  // Ends the process with exitCode. It never returns to its caller. While a processor fault is
  // being handled it ends the process at once, without the exit-time clean-up of the libraries
  // and the run-time, which the fault may have caught half done.
  [[noreturn]] virtual void ExitProcess(UINT exitCode) = 0;

  // --- Processor faults ------------------------------------------------------------------------
  // Called once, early: from now on a processor fault of the process (an invalid memory access,
  // an integer division by zero or overflow, an unmasked floating-point exception, a stack
  // overflow, an illegal instruction) that nothing else handles calls handler, with the fault
  // described, instead of ending the process; so does a fault inside the handler. The system
  // shows no dialog for a fault or a critical error and leaves no core file. Other exceptions
  // and signals keep their paths. Returns nonzero on success, or 0 when faults could not be
  // routed to the handler (GetLastError tells why).
  virtual BOOL InstallFaultHandler(FaultHandler handler) = 0;
};

// The platform this process runs on: what the program installed with SetSystem at its start,
// or what a test has put in its place with ScopedSystem. Calling it before either is a fault of
// the program, and ends the process.
Platform& System();
void SetSystem(Platform& platform);

// Ends the process through System().ExitProcess. Should a back-end's ExitProcess ever return,
// the process ends here all the same.
[[noreturn]] void EndProcess(UINT exitCode);

// Puts a platform in place of the current one for the lifetime of the object.
class ScopedSystem {
 public:
  explicit ScopedSystem(Platform& replacement);
  ~ScopedSystem();
  ScopedSystem(const ScopedSystem&) = delete;
  ScopedSystem& operator=(const ScopedSystem&) = delete;

 private:
  Platform* previous_;
};

}  // namespace zelmora::platform
