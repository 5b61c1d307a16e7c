// The Windows error code that stands for a failed POSIX call's errno.
#pragma once

#include "platform/Platform.h"

namespace zelmora::platform {

[[nodiscard]] LONG Win32ErrorFromErrno(int error);

}  // namespace zelmora::platform
