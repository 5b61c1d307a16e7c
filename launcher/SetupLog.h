// The log of a run: what the tool printed, kept for support as zelmora-setup.log in the first
// folder that takes it of TEMP, TMP and the user's profile.
#pragma once

#include <string_view>

namespace zelmora::launcher {

// Keeps the captured bytes unchanged; separator is the one the system writes in paths. A log
// that no folder takes is no failure: the run's outcome is decided already.
void KeepLog(std::string_view captured, char16_t separator);

}  // namespace zelmora::launcher
