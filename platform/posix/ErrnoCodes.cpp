#include "platform/posix/ErrnoCodes.h"

#include <cerrno>

namespace zelmora::platform {

LONG Win32ErrorFromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case EPIPE:
      return kErrorBrokenPipe;
    case EBADF:
      return kErrorInvalidHandle;
    case EACCES:
    case EPERM:
    // A symbolic link or a folder where a file belongs is refused, not followed.
    case ELOOP:
    case EISDIR:
      return kErrorAccessDenied;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EROFS:
      return kErrorWriteProtect;
    case EMFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EFBIG:
      return kErrorFileTooLarge;
    case EIO:
      return kErrorIoDevice;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace zelmora::platform
