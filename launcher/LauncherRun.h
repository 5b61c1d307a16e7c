// One run of the launcher: its options, then the tool beside it run at most once per user, build
// and TEMP, the record, the log, the report and the line. It is the run the program hands to the
// process entry.
#pragma once

#include <string_view>

#include "platform/Platform.h"

namespace zelmora::launcher {

// Runs the launcher for the tool of that file name in the launcher's own folder; returns the
// status to end with. The launcher's own failures escape as failures, for the entry to report.
platform::UINT RunLauncher(std::u16string_view toolFileName);

}  // namespace zelmora::launcher
