// The platform calls on Windows: each one is the Windows API call of the same name, but for
// InstallFaultHandler, which sets up the system's exception handling. Only the portable types are
// converted (NativeConstants.cpp shows that the values need no mapping).
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/NativePlatform.h"

namespace zelmora::platform {
namespace {

::HKEY ToNative(HKEY key) { return reinterpret_cast<::HKEY>(static_cast<std::uintptr_t>(key)); }
HKEY FromNative(::HKEY key) { return static_cast<HKEY>(reinterpret_cast<std::uintptr_t>(key)); }

::HANDLE ToNative(HANDLE handle) {
  return reinterpret_cast<::HANDLE>(static_cast<std::uintptr_t>(handle));
}
HANDLE FromNative(::HANDLE handle) {
  return static_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(handle));
}

// kExecutableModule is the null handle, which some calls would read as "the system".
::HMODULE ToNative(HMODULE module) {
  return module == kExecutableModule
             ? ::GetModuleHandleW(nullptr)
             : reinterpret_cast<::HMODULE>(static_cast<std::uintptr_t>(module));
}

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

::DWORD ToNative(DWORD value) { return value; }
DWORD FromNative(::DWORD value) { return static_cast<DWORD>(value); }

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

class Win32Platform final : public Platform {
 public:
  LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, const char16_t* keyClass,
                       DWORD options, DWORD desiredAccess, const void* securityAttributes,
                       HKEY* result, DWORD* disposition) override {
    KeyParam opened(result);
    DwordParam created(disposition);
    return ::RegCreateKeyExW(
        ToNative(key), Wide(subKey), reserved, const_cast<wchar_t*>(Wide(keyClass)), options,
        desiredAccess, static_cast<SECURITY_ATTRIBUTES*>(const_cast<void*>(securityAttributes)),
        opened.get(), created.get());
  }

  LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, DWORD desiredAccess,
                     HKEY* result) override {
    KeyParam opened(result);
    return ::RegOpenKeyExW(ToNative(key), Wide(subKey), options, desiredAccess, opened.get());
  }

  LONG RegSetValueExW(HKEY key, const char16_t* valueName, DWORD reserved, DWORD type,
                      const std::uint8_t* data, DWORD dataSize) override {
    return ::RegSetValueExW(ToNative(key), Wide(valueName), reserved, type, data, dataSize);
  }

  LONG RegCloseKey(HKEY key) override { return ::RegCloseKey(ToNative(key)); }

  LONG RegGetValueW(HKEY key, const char16_t* subKey, const char16_t* valueName, DWORD flags,
                    DWORD* type, void* data, DWORD* dataSize) override {
    DwordParam kind(type);
    DwordParam size(dataSize);
    return ::RegGetValueW(ToNative(key), Wide(subKey), Wide(valueName), flags, kind.get(), data,
                          size.get());
  }

  DWORD GetEnvironmentVariableW(const char16_t* name, char16_t* buffer, DWORD size) override {
    return ::GetEnvironmentVariableW(Wide(name), Wide(buffer), size);
  }

  BOOL GetUserNameW(char16_t* buffer, DWORD* size) override {
    DwordParam capacity(size);
    return ::GetUserNameW(Wide(buffer), capacity.get());
  }

  HANDLE GetStdHandle(DWORD stdHandle) override { return FromNative(::GetStdHandle(stdHandle)); }

  DWORD GetFileType(HANDLE file) override { return ::GetFileType(ToNative(file)); }

  UINT GetConsoleOutputCP() override { return ::GetConsoleOutputCP(); }

  UINT GetACP() override { return ::GetACP(); }

  int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide, int wideLength,
                          char* bytes, int byteCapacity, const char* defaultChar,
                          BOOL* usedDefaultChar) override {
    return ::WideCharToMultiByte(codePage, flags, Wide(wide), wideLength, bytes, byteCapacity,
                                 defaultChar, usedDefaultChar);
  }

  BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written,
                 void* overlapped) override {
    DwordParam count(written);
    return ::WriteFile(ToNative(file), buffer, size, count.get(),
                       static_cast<OVERLAPPED*>(overlapped));
  }

  DWORD GetLastError() override { return ::GetLastError(); }

  HANDLE CreateFileW(const char16_t* fileName, DWORD desiredAccess, DWORD shareMode,
                     const void* securityAttributes, DWORD creationDisposition,
                     DWORD flagsAndAttributes, HANDLE templateFile) override {
    return FromNative(
        ::CreateFileW(Wide(fileName), desiredAccess, shareMode,
                      static_cast<SECURITY_ATTRIBUTES*>(const_cast<void*>(securityAttributes)),
                      creationDisposition, flagsAndAttributes, ToNative(templateFile)));
  }

  BOOL GetFileSizeEx(HANDLE file, std::int64_t* size) override {
    LARGE_INTEGER native{};
    if (size == nullptr || !::GetFileSizeEx(ToNative(file), &native)) {
      if (size == nullptr) ::SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    *size = native.QuadPart;
    return 1;
  }

  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void* overlapped) override {
    DwordParam count(read);
    return ::ReadFile(ToNative(file), buffer, size, count.get(),
                      static_cast<OVERLAPPED*>(overlapped));
  }

  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(ToNative(handle)); }

  BOOL GetUserPreferredUILanguages(DWORD flags, DWORD* numLanguages, char16_t* buffer,
                                   DWORD* bufferSize) override {
    DwordParam count(numLanguages);
    DwordParam size(bufferSize);
    return ::GetUserPreferredUILanguages(flags, count.get(), Wide(buffer), size.get());
  }

  std::size_t VirtualQuery(const void* address, MemoryBasicInformation* info,
                           std::size_t infoSize) override {
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

  DWORD GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size) override {
    return ::GetModuleFileNameW(ToNative(module), Wide(buffer), size);
  }

  // user32's LoadStringW would load user32 and, with it, the window system into every run, which
  // costs more than all the rest of the tool's work. The string table is read here from the same
  // resource with kernel32's calls, as LoadStringW reads it: a block of 16 strings for each 16
  // ids, each string its length in units followed by its units.
  int LoadStringW(HMODULE instance, UINT id, char16_t* buffer, int capacity) override {
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

  [[noreturn]] void ExitProcess(UINT exitCode) override {
    // After a fault, only at once: the libraries' exit-time clean-up may meet what it left.
    if (handlingFault != 0) ::TerminateProcess(::GetCurrentProcess(), exitCode);
    ::ExitProcess(exitCode);
  }

  BOOL InstallFaultHandler(FaultHandler handler) override {
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
};

}  // namespace

Platform& NativePlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace zelmora::platform
