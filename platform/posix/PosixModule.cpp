// Modules and the string table on POSIX.
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "platform/common/BuiltInMessages.h"
#include "platform/common/Utf.h"
#include "platform/posix/PosixPlatform.h"

namespace zelmora::platform {
namespace {

constexpr std::size_t kPathCapacity = 4096;

// The executable's path into path (NUL-terminated); its length, 0 when unknown. Uses no heap:
// the failure report asks for it while memory may be exhausted.
std::size_t ExecutablePath(char (&path)[kPathCapacity]) {
  const ssize_t length = readlink("/proc/self/exe", path, kPathCapacity - 1);
  if (length <= 0) return 0;
  path[length] = '\0';
  return static_cast<std::size_t>(length);
}

}  // namespace

std::size_t PosixPlatform::VirtualQuery(const void* address, MemoryBasicInformation* info,
                                        std::size_t infoSize) {
  if (info == nullptr || infoSize < sizeof *info) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  // Only mapped code is described: the module that holds it is the allocation.
  Dl_info module;
  if (address == nullptr || dladdr(address, &module) == 0 || module.dli_fbase == nullptr) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  *info = MemoryBasicInformation{};
  info->BaseAddress = address;
  info->AllocationBase = module.dli_fbase;
  info->State = kMemCommit;
  return sizeof *info;
}

DWORD PosixPlatform::GetModuleFileNameW(HMODULE module, char16_t* buffer, DWORD size) {
  char path[kPathCapacity];
  std::size_t length = 0;
  if (module == kExecutableModule) {
    length = ExecutablePath(path);
  } else {
    Dl_info found;
    const auto* base = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(module));
    if (dladdr(base, &found) != 0 && found.dli_fbase == base && found.dli_fname != nullptr &&
        found.dli_fname[0] == '/') {
      length = std::strlen(found.dli_fname);
      if (length >= kPathCapacity) length = kPathCapacity - 1;
      std::memcpy(path, found.dli_fname, length);
    } else if (dladdr(base, &found) != 0 && found.dli_fbase == base) {
      // The main program names itself with an empty or relative name.
      length = ExecutablePath(path);
    }
  }
  if (length == 0) {
    Fail(kErrorInvalidHandle);
    return 0;
  }
  if (size == 0) {
    Fail(kErrorInsufficientBuffer);
    return 0;
  }
  const std::size_t units = Utf8ToUtf16(std::string_view(path, length), buffer, size - 1);
  if (units > size - 1) {
    buffer[size - 1] = u'\0';
    Fail(kErrorInsufficientBuffer);
    return size;
  }
  buffer[units] = u'\0';
  return static_cast<DWORD>(units);
}

int PosixPlatform::LoadStringW(HMODULE, UINT id, char16_t* buffer, int capacity) {
  return CopyBuiltInMessage(id, buffer, capacity);
}

}  // namespace zelmora::platform
