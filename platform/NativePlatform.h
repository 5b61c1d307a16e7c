// The build's native back-end: posix/ or win32/, whichever the build links, defines it. Only
// the program's start and tests of the back-end itself name it; everything else asks System().
#pragma once

#include "platform/Platform.h"

namespace zelmora::platform {

Platform& NativePlatform();

}  // namespace zelmora::platform
