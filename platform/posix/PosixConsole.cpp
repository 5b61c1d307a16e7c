// Standard streams on POSIX: a handle is a file descriptor (plus one, so that none is null).
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/common/Utf.h"
#include "platform/posix/ErrnoCodes.h"
#include "platform/posix/PosixPlatform.h"

namespace zelmora::platform {
namespace {

// Waits until a descriptor someone left non-blocking can take more bytes.
bool WaitWritable(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  for (;;) {
    const int ready = poll(&entry, 1, -1);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

HANDLE PosixPlatform::GetStdHandle(DWORD stdHandle) {
  if (stdHandle == kStdOutputHandle) return HandleOfDescriptor(STDOUT_FILENO);
  if (stdHandle == kStdErrorHandle) return HandleOfDescriptor(STDERR_FILENO);
  Fail(kErrorInvalidParameter);
  return kInvalidHandle;
}

DWORD PosixPlatform::GetFileType(HANDLE file) {
  const int fd = DescriptorOfHandle(file);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) {
    Fail(fd < 0 ? kErrorInvalidHandle : Win32ErrorFromErrno(errno));
    return kFileTypeUnknown;
  }
  if (S_ISCHR(status.st_mode)) return kFileTypeChar;
  if (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)) return kFileTypeDisk;
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return kFileTypePipe;
  return kFileTypeUnknown;
}

// The system's text is UTF-8, for the console and for everything else.
UINT PosixPlatform::GetConsoleOutputCP() { return kCodePageUtf8; }
UINT PosixPlatform::GetACP() { return kCodePageUtf8; }

int PosixPlatform::WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide,
                                       int wideLength, char* bytes, int byteCapacity,
                                       const char* defaultChar, BOOL* usedDefaultChar) {
  // Every code page that names the system's own (ANSI, OEM, UTF-8) is UTF-8 here; a default
  // character cannot be asked for with UTF-8, as on Windows.
  constexpr UINT kAnsiCodePage = 0;
  const bool systemCodePage =
      codePage == kAnsiCodePage || codePage == kCodePageOem || codePage == kCodePageUtf8;
  if (!systemCodePage || flags != 0 || defaultChar != nullptr || usedDefaultChar != nullptr ||
      wide == nullptr || wideLength < 0 || byteCapacity < 0) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  // Converted straight into the caller's buffer: the failure report uses this while memory
  // may be exhausted.
  const std::u16string_view text(wide, static_cast<std::size_t>(wideLength));
  const std::size_t needed = Utf16ToUtf8(text, nullptr, 0);
  if (byteCapacity == 0) return static_cast<int>(needed);
  if (needed > static_cast<std::size_t>(byteCapacity)) {
    Fail(kErrorInsufficientBuffer);
    return 0;
  }
  Utf16ToUtf8(text, bytes, needed);
  return static_cast<int>(needed);
}

BOOL PosixPlatform::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written, void*) {
  if (written != nullptr) *written = 0;
  const int fd = DescriptorOfHandle(file);
  if (fd < 0) {
    Fail(kErrorInvalidHandle);
    return 0;
  }
  // Like a synchronous write on Windows: all the bytes, or a failure.
  const char* next = static_cast<const char*>(buffer);
  DWORD left = size;
  while (left > 0) {
    const ssize_t count = write(fd, next, left);
    if (count < 0) {
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitWritable(fd)) continue;
      Fail(Win32ErrorFromErrno(errno));
      return 0;
    }
    next += count;
    left -= static_cast<DWORD>(count);
    if (written != nullptr) *written += static_cast<DWORD>(count);
  }
  return 1;
}

}  // namespace zelmora::platform
