// The platform calls on Windows that pass straight through, and InstallFaultHandler, which sets
// up the system's exception handling. The calls of other concerns have files of their own.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/NativePlatform.h"
#include "platform/win32/Win32Platform.h"

namespace zelmora::platform {
namespace {

FaultHandler faultHandler = nullptr;
volatile ::LONG handlingFault = 0;
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

// The handler runs on a stack of its own, a fiber's, as it does on POSIX: after a stack overflow
// the faulting stack has too little left for the report (under Wine, which keeps no more than a
// page or two in reserve, whatever SetThreadStackGuarantee asked for).
constexpr SIZE_T kFaultStackSize = 128 * 1024;
void* faultFiber = nullptr;
ProcessorFault faultToHandle;

// Stack kept back on the faulting thread for the system to hand a stack overflow over.
constexpr ULONG kStackKeptForOverflow = 64 * 1024;

// The fault an exception stands for; nothing for an exception that is no processor fault.
std::optional<FaultKind> FaultKindOf(const EXCEPTION_RECORD& record) {
  switch (record.ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
      // 0 is a read, 1 a write, 8 the execution of data, which reads it as an instruction.
      if (record.NumberParameters < 2) return FaultKind::InvalidAccess;
      return record.ExceptionInformation[0] == 1 ? FaultKind::InvalidWrite : FaultKind::InvalidRead;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return FaultKind::DivisionByZero;
    case EXCEPTION_INT_OVERFLOW:
      return FaultKind::IntegerOverflow;
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
      return FaultKind::FloatingPoint;
    case EXCEPTION_STACK_OVERFLOW:
      return FaultKind::StackOverflow;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
      return FaultKind::IllegalInstruction;
    default:
      return std::nullopt;
  }
}

std::optional<ProcessorFault> FaultOf(const EXCEPTION_RECORD& record) {
  const std::optional<FaultKind> kind = FaultKindOf(record);
  if (!kind) return std::nullopt;
  const bool accessed = *kind == FaultKind::InvalidRead || *kind == FaultKind::InvalidWrite;
  return ProcessorFault{
      *kind, record.ExceptionAddress,
      accessed ? reinterpret_cast<const void*>(record.ExceptionInformation[1]) : nullptr};
}

[[noreturn]] void RunFaultHandler(const ProcessorFault& fault) {
  faultHandler(fault);
  ::TerminateProcess(::GetCurrentProcess(), 1);  // the handler ends the process; should it return
  ::ExitProcess(1);
}

void CALLBACK OnFaultStack(void*) { RunFaultHandler(faultToHandle); }

[[noreturn]] void HandleFault(const ProcessorFault& fault) {
  // A fault inside the handler is handled on the stack it is already on.
  const bool first = handlingFault == 0;
  handlingFault = 1;
  faultToHandle = fault;
  if (first && faultFiber != nullptr) ::SwitchToFiber(faultFiber);
  RunFaultHandler(fault);
}

// A stack overflow is handled as it happens: looking for a handler of it first would take stack
// that is no longer there. So is an integer overflow (the smallest integer divided by -1): the
// C runtime's guard around main takes it and resumes the faulting instruction, which on Windows
// faults again for ever.
::LONG CALLBACK OnFirstChance(EXCEPTION_POINTERS* exception) {
  const ::DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (code == EXCEPTION_STACK_OVERFLOW || code == EXCEPTION_INT_OVERFLOW) {
    HandleFault(*FaultOf(*exception->ExceptionRecord));
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// Every other fault only when nothing has handled it: system code may cause and handle faults of
// its own on purpose.
::LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* exception) {
  if (const auto fault = FaultOf(*exception->ExceptionRecord)) HandleFault(*fault);
  return previousFilter != nullptr ? previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

LONG Win32Platform::RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved,
                                    const char16_t* keyClass, DWORD options, DWORD desiredAccess,
                                    const void* securityAttributes, HKEY* result,
                                    DWORD* disposition) {
  KeyParam opened(result);
  DwordParam created(disposition);
  return ::RegCreateKeyExW(ToNative(key), Wide(subKey), reserved,
                           const_cast<wchar_t*>(Wide(keyClass)), options, desiredAccess,
                           static_cast<SECURITY_ATTRIBUTES*>(const_cast<void*>(securityAttributes)),
                           opened.get(), created.get());
}

LONG Win32Platform::RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options,
                                  DWORD desiredAccess, HKEY* result) {
  KeyParam opened(result);
  return ::RegOpenKeyExW(ToNative(key), Wide(subKey), options, desiredAccess, opened.get());
}

LONG Win32Platform::RegSetValueExW(HKEY key, const char16_t* valueName, DWORD reserved, DWORD type,
                                   const std::uint8_t* data, DWORD dataSize) {
  return ::RegSetValueExW(ToNative(key), Wide(valueName), reserved, type, data, dataSize);
}

LONG Win32Platform::RegCloseKey(HKEY key) { return ::RegCloseKey(ToNative(key)); }

LONG Win32Platform::RegGetValueW(HKEY key, const char16_t* subKey, const char16_t* valueName,
                                 DWORD flags, DWORD* type, void* data, DWORD* dataSize) {
  DwordParam kind(type);
  DwordParam size(dataSize);
  return ::RegGetValueW(ToNative(key), Wide(subKey), Wide(valueName), flags, kind.get(), data,
                        size.get());
}

DWORD Win32Platform::GetEnvironmentVariableW(const char16_t* name, char16_t* buffer, DWORD size) {
  return ::GetEnvironmentVariableW(Wide(name), Wide(buffer), size);
}

BOOL Win32Platform::GetUserNameW(char16_t* buffer, DWORD* size) {
  DwordParam capacity(size);
  return ::GetUserNameW(Wide(buffer), capacity.get());
}

HANDLE Win32Platform::GetStdHandle(DWORD stdHandle) {
  return FromNative(::GetStdHandle(stdHandle));
}

DWORD Win32Platform::GetFileType(HANDLE file) { return ::GetFileType(ToNative(file)); }

UINT Win32Platform::GetConsoleOutputCP() { return ::GetConsoleOutputCP(); }

UINT Win32Platform::GetACP() { return ::GetACP(); }

int Win32Platform::WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide,
                                       int wideLength, char* bytes, int byteCapacity,
                                       const char* defaultChar, BOOL* usedDefaultChar) {
  return ::WideCharToMultiByte(codePage, flags, Wide(wide), wideLength, bytes, byteCapacity,
                               defaultChar, usedDefaultChar);
}

BOOL Win32Platform::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written,
                              void* overlapped) {
  DwordParam count(written);
  return ::WriteFile(ToNative(file), buffer, size, count.get(),
                     static_cast<OVERLAPPED*>(overlapped));
}

DWORD Win32Platform::GetLastError() { return ::GetLastError(); }

HANDLE Win32Platform::CreateFileW(const char16_t* fileName, DWORD desiredAccess, DWORD shareMode,
                                  const void* securityAttributes, DWORD creationDisposition,
                                  DWORD flagsAndAttributes, HANDLE templateFile) {
  return FromNative(
      ::CreateFileW(Wide(fileName), desiredAccess, shareMode,
                    static_cast<SECURITY_ATTRIBUTES*>(const_cast<void*>(securityAttributes)),
                    creationDisposition, flagsAndAttributes, ToNative(templateFile)));
}

BOOL Win32Platform::GetFileSizeEx(HANDLE file, std::int64_t* size) {
  LARGE_INTEGER native{};
  if (size == nullptr || !::GetFileSizeEx(ToNative(file), &native)) {
    if (size == nullptr) ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  *size = native.QuadPart;
  return 1;
}

BOOL Win32Platform::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void* overlapped) {
  DwordParam count(read);
  if (::ReadFile(ToNative(file), buffer, size, count.get(), static_cast<OVERLAPPED*>(overlapped))) {
    return 1;
  }
  // A pipe whose writers have all ended is at its end, as a file is: 0 bytes, no failure.
  if (::GetLastError() != ERROR_BROKEN_PIPE || count.get() == nullptr) return 0;
  *count.get() = 0;
  return 1;
}

BOOL Win32Platform::CloseHandle(HANDLE handle) { return ::CloseHandle(ToNative(handle)); }

BOOL Win32Platform::GetUserPreferredUILanguages(DWORD flags, DWORD* numLanguages, char16_t* buffer,
                                                DWORD* bufferSize) {
  DwordParam count(numLanguages);
  DwordParam size(bufferSize);
  return ::GetUserPreferredUILanguages(flags, count.get(), Wide(buffer), size.get());
}

std::size_t Win32Platform::VirtualQuery(const void* address, MemoryBasicInformation* info,
                                        std::size_t infoSize) {
  if (info == nullptr || infoSize < sizeof(MemoryBasicInformation)) {
    ::SetLastError(ERROR_BAD_LENGTH);
    return 0;
  }
  MEMORY_BASIC_INFORMATION native{};
  if (::VirtualQuery(address, &native, sizeof native) == 0) return 0;
  info->BaseAddress = native.BaseAddress;
  info->AllocationBase = native.AllocationBase;
  info->AllocationProtect = native.AllocationProtect;
  info->RegionSize = native.RegionSize;
  info->State = native.State;
  info->Protect = native.Protect;
  info->Type = native.Type;
  return sizeof(MemoryBasicInformation);
}

DWORD Win32Platform::GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size) {
  return ::GetModuleFileNameW(ToNative(module), Wide(buffer), size);
}

// user32's LoadStringW would load user32 and, with it, the window system into every run, which
// costs more than all the rest of the tool's work. The string table is read here from the same
// resource with kernel32's calls, as LoadStringW reads it: a block of 16 strings for each 16
// ids, each string its length in units followed by its units.
int Win32Platform::LoadStringW(HMODULE instance, UINT id, char16_t* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = u'\0';
  const ::HMODULE module = ToNative(instance);
  const HRSRC block = ::FindResourceW(module, MAKEINTRESOURCEW((id >> 4) + 1), RT_STRING);
  if (block == nullptr) return 0;
  const auto* units = static_cast<const char16_t*>(::LockResource(::LoadResource(module, block)));
  if (units == nullptr) return 0;
  const std::size_t blockUnits = ::SizeofResource(module, block) / sizeof(char16_t);
  std::size_t at = 0;
  for (UINT skipped = 0; skipped < (id & 15); ++skipped) {
    if (at >= blockUnits) return 0;
    at += 1 + std::size_t{units[at]};
  }
  if (at >= blockUnits) return 0;
  const std::size_t length = std::min<std::size_t>(units[at], blockUnits - at - 1);
  const std::size_t copied = std::min(length, static_cast<std::size_t>(capacity) - 1);
  std::copy_n(units + at + 1, copied, buffer);
  buffer[copied] = u'\0';
  return static_cast<int>(copied);
}

void Win32Platform::ExitProcess(UINT exitCode) {
  // After a fault, only at once: the libraries' exit-time clean-up may meet what it left.
  if (handlingFault != 0) ::TerminateProcess(::GetCurrentProcess(), exitCode);
  ::ExitProcess(exitCode);
}

BOOL Win32Platform::InstallFaultHandler(FaultHandler handler) {
  // No error-reporting dialog and no critical-error dialog: an unattended run must never wait
  // for a click.
  ::SetErrorMode(::SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
                 SEM_NOOPENFILEERRORBOX);
  faultHandler = handler;
  // Switching to the handler's fiber needs this thread to be a fiber too.
  if (::ConvertThreadToFiber(nullptr) != nullptr) {
    faultFiber = ::CreateFiber(kFaultStackSize, &OnFaultStack, nullptr);
  }
  previousFilter = ::SetUnhandledExceptionFilter(&OnUnhandled);
  ULONG kept = kStackKeptForOverflow;
  return faultFiber != nullptr && ::AddVectoredExceptionHandler(1, &OnFirstChance) != nullptr &&
         ::SetThreadStackGuarantee(&kept);
}

Platform& NativePlatform() {
  static Win32Platform platform;
  return platform;
}

// Windows keeps the process's command line itself.
void SetNativeArguments(int, const char* const*) {}

}  // namespace zelmora::platform
