// The launcher's exit statuses, one table for the code, the guide and the tests. Every failure
// has a status of its own, none of them 0 and none that an installer engine reads as success or
// as a reboot (1707, 3010, 1641, 1618); the tool's own statuses (1, 217, any other) pass through.
#pragma once

#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace zelmora::launcher {

using platform::UINT;

constexpr UINT kSetUp = 0;          // set up now or before, uninstalled, or usage shown
constexpr UINT kNotCompleted = 20;  // the tool ran but did not complete
constexpr UINT kNotRecorded = 21;   // set up, but the record could not be written
constexpr UINT kNoTool = 22;        // no tool beside the launcher
constexpr UINT kNotStartable = 23;  // the tool is there but could not be started
constexpr UINT kBadCommandLine = 24;
constexpr UINT kUninstallFailed = 25;
constexpr UINT kTimedOut = 26;        // the tool did not end in time and was ended
constexpr UINT kOwnFailure = 27;      // the launcher's own failure, reported on standard error
constexpr UINT kStartUpFailure = 28;  // the same during its start-up: the fallback line

// What a status of a run means, in ASCII, for the console line and the report.
std::u16string_view StatusMeaning(UINT status);

// The status in unsigned decimal, as deployment engines show a program's status.
std::u16string StatusNumber(UINT status);

}  // namespace zelmora::launcher
