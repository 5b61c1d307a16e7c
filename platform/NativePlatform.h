// The build's native back-end: posix/ or win32/, whichever the build links, defines it. Only
// the program's start and tests of the back-end itself name it; everything else asks System().
#pragma once

#include "platform/Platform.h"

namespace zelmora::platform {

Platform& NativePlatform();

// Hands main's arguments to the native back-end, before the first GetCommandLineW: the POSIX
// back-end makes its command line from them; the Win32 one asks Windows and ignores them.
void SetNativeArguments(int argc, const char* const* argv);

}  // namespace zelmora::platform
