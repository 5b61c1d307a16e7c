// Files written anew and files deleted, on POSIX: a link at the name is never followed, and
// nothing but a regular file is written, so that a name planted in a shared folder cannot turn
// a write somewhere else or hang it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/common/Utf.h"
#include "platform/posix/ErrnoCodes.h"
#include "platform/posix/PosixPlatform.h"
#include "platform/posix/StoreFiles.h"

namespace zelmora::platform {
namespace {

// A missing name: a missing file, or a missing folder on the way to it, as Windows tells them.
LONG MissingNameError(const std::string& path) {
  struct stat status {};
  return stat(FolderOf(path).c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? kErrorFileNotFound
                                                                               : kErrorPathNotFound;
}

}  // namespace

HANDLE PosixPlatform::CreateForWriting(const char16_t* fileName) {
  const std::string path = Utf16ToUtf8(fileName);
  // Not emptied at the open: only once it is known to be a regular file. Non-blocking, so that
  // a FIFO at the name cannot hang the open; the mode is 0666 less the umask.
  UniqueFd fd(open(path.c_str(),
                   O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  LONG error = kErrorSuccess;
  struct stat status {};
  if (!fd.Valid()) {
    // ENXIO: a FIFO without a reader, or a socket.
    error = errno == ENOENT  ? kErrorPathNotFound
            : errno == ENXIO ? kErrorAccessDenied
                             : Win32ErrorFromErrno(errno);
  } else if (fstat(fd.Get(), &status) != 0) {
    error = Win32ErrorFromErrno(errno);
  } else if (!S_ISREG(status.st_mode)) {
    error = kErrorAccessDenied;
  } else if (ftruncate(fd.Get(), 0) != 0 ||
             fcntl(fd.Get(), F_SETFL, fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK) != 0) {
    error = Win32ErrorFromErrno(errno);
  }
  if (error != kErrorSuccess) {
    Fail(error);
    return kInvalidHandle;
  }
  return HandleOfDescriptor(fd.Release());
}

BOOL PosixPlatform::DeleteFileW(const char16_t* fileName) {
  if (fileName == nullptr) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  const std::string path = Utf16ToUtf8(fileName);
  if (unlink(path.c_str()) != 0) {
    Fail(errno == ENOENT ? MissingNameError(path) : Win32ErrorFromErrno(errno));
    return 0;
  }
  return 1;
}

}  // namespace zelmora::platform
