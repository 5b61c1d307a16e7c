// The process entry: the guard around start-up, the run and shut-down.
#pragma once

#include "entry/Lifecycle.h"

namespace zelmora {

// The process entry: one guard around start-up, the installation run and shut-down. Ends the
// process through the platform and never returns.
[[noreturn]] void ProcessEntry(const Installation& installation);

}  // namespace zelmora
