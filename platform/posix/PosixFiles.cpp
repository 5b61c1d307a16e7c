// Opening and reading files, and the interface language, on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/common/LanguageList.h"
#include "platform/common/Utf.h"
#include "platform/posix/ErrnoCodes.h"
#include "platform/posix/PosixPlatform.h"

namespace zelmora::platform {

HANDLE PosixPlatform::CreateFileW(const char16_t* fileName, DWORD desiredAccess, DWORD shareMode,
                                  const void* securityAttributes, DWORD creationDisposition, DWORD,
                                  HANDLE templateFile) {
  const bool plain =
      fileName != nullptr && securityAttributes == nullptr && templateFile == kNoHandle;
  if (plain && desiredAccess == kGenericWrite && shareMode == 0 &&
      creationDisposition == kCreateAlways) {
    return CreateForWriting(fileName);
  }
  if (!plain || desiredAccess != kGenericRead || shareMode != kFileShareRead ||
      creationDisposition != kOpenExisting) {
    Fail(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  const std::string path = Utf16ToUtf8(fileName);
  // Non-blocking, so that a FIFO in the file's place cannot hang the open; then refused, as
  // is every other thing that is no regular file, whose reads might never end.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    Fail(Win32ErrorFromErrno(errno));
    return kInvalidHandle;
  }
  struct stat status {};
  LONG error = kErrorSuccess;
  if (fstat(fd, &status) != 0) {
    error = Win32ErrorFromErrno(errno);
  } else if (!S_ISREG(status.st_mode)) {
    error = kErrorAccessDenied;
  }
  if (error != kErrorSuccess) {
    close(fd);
    Fail(error);
    return kInvalidHandle;
  }
  return HandleOfDescriptor(fd);
}

BOOL PosixPlatform::GetFileSizeEx(HANDLE file, std::int64_t* size) {
  struct stat status {};
  const int fd = DescriptorOfHandle(file);
  if (fd < 0 || size == nullptr || fstat(fd, &status) != 0) {
    Fail(fd < 0 || size == nullptr ? kErrorInvalidParameter : Win32ErrorFromErrno(errno));
    return 0;
  }
  *size = status.st_size;
  return 1;
}

BOOL PosixPlatform::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void*) {
  const int fd = DescriptorOfHandle(file);
  if (fd < 0 || read == nullptr) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  *read = 0;
  for (;;) {
    const ssize_t count = ::read(fd, buffer, size);
    if (count >= 0) {
      *read = static_cast<DWORD>(count);
      return 1;
    }
    if (errno != EINTR) break;
  }
  Fail(Win32ErrorFromErrno(errno));
  return 0;
}

BOOL PosixPlatform::CloseHandle(HANDLE handle) {
  if (CloseProcessHandle(handle)) return 1;
  const int fd = DescriptorOfHandle(handle);
  // A descriptor is released by close even when close reports an error.
  if (fd < 0 || close(fd) != 0) {
    Fail(fd < 0 ? kErrorInvalidHandle : Win32ErrorFromErrno(errno));
    return 0;
  }
  return 1;
}

BOOL PosixPlatform::GetUserPreferredUILanguages(DWORD flags, DWORD* numLanguages, char16_t* buffer,
                                                DWORD* bufferSize) {
  std::string_view locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') {
      locale = value;
      break;
    }
  }
  // language[_territory][.codeset][@modifier]: the code set and modifier say nothing of the
  // language.
  locale = locale.substr(0, locale.find_first_of(".@"));
  std::u16string tag;
  if (!locale.empty() && locale != "C" && locale != "POSIX") {
    tag = Utf8ToUtf16(locale);
    for (char16_t& unit : tag) {
      if (unit == u'_') unit = u'-';
    }
  }
  const LONG error = CopyLanguageList(std::span(&tag, tag.empty() ? 0 : 1), flags, numLanguages,
                                      buffer, bufferSize);
  if (error != kErrorSuccess) {
    Fail(error);
    return 0;
  }
  return 1;
}

}  // namespace zelmora::platform
