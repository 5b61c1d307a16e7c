// /uninstall: removes what the tool wrote, then the record, last, so that an uninstall cut short
// still finds the record and is retried whole by the engine whose detection reads it.
#pragma once

#include "platform/Platform.h"

namespace zelmora::launcher {

// kSetUp when both are gone (or were never there), kUninstallFailed when either delete fails; the
// record is then kept.
platform::UINT Uninstall();

}  // namespace zelmora::launcher
