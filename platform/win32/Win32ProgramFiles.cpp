// A program file's version resource, files deleted, and keys deleted with their tree, on Windows.
#include <cstring>

#include "platform/win32/Win32Platform.h"

namespace zelmora::platform {
namespace {

// The id under which the resource compiler stores the VS_VERSIONINFO block.
constexpr WORD kVersionResourceId = 1;

}  // namespace

// Read with kernel32's resource calls from the file mapped as an image resource, not through
// version.dll: that would add a DLL to every start of the launcher, for the same bytes.
BOOL Win32Platform::GetFileVersionInfoW(HANDLE, const char16_t* fileName, DWORD* size, void* data) {
  if (fileName == nullptr || size == nullptr || (data == nullptr && *size != 0)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Nothing of the file runs: no entry point, no imports, no relocations.
  const ::HMODULE module = ::LoadLibraryExW(
      Wide(fileName), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return 0;
  BOOL copied = 0;
  const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(kVersionResourceId), RT_VERSION);
  const void* block = found != nullptr ? ::LockResource(::LoadResource(module, found)) : nullptr;
  const ::DWORD bytes = found != nullptr ? ::SizeofResource(module, found) : 0;
  if (found == nullptr) {
    // A version resource under another id is none for this reader, as for version.dll.
    if (::GetLastError() == ERROR_RESOURCE_NAME_NOT_FOUND) {
      ::SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    }
  } else if (block == nullptr || bytes == 0) {
    ::SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
  } else if (bytes > *size) {
    *size = bytes;
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
  } else {
    std::memcpy(data, block, bytes);
    *size = bytes;
    copied = 1;
  }
  const ::DWORD error = ::GetLastError();
  ::FreeLibrary(module);
  ::SetLastError(error);
  return copied;
}

BOOL Win32Platform::DeleteFileW(const char16_t* fileName) { return ::DeleteFileW(Wide(fileName)); }

LONG Win32Platform::RegDeleteTreeW(HKEY key, const char16_t* subKey) {
  // Windows reads an empty or missing subKey as "everything below key": refused here, as by the
  // other back-ends, so that no slip can empty a whole hive.
  if (subKey == nullptr || subKey[0] == u'\0') return ERROR_INVALID_PARAMETER;
  return ::RegDeleteTreeW(ToNative(key), Wide(subKey));
}

}  // namespace zelmora::platform
