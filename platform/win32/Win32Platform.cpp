// The platform calls on Windows: each one is the Windows API call of the same name. Only the
// portable types are converted (NativeConstants.cpp shows that the values need no mapping).
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

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

  [[noreturn]] void ExitProcess(UINT exitCode) override { ::ExitProcess(exitCode); }
};

}  // namespace

Platform& NativePlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace zelmora::platform
