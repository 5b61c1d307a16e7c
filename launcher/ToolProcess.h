// Running the held tool: started from its open file, as the user, with its output captured, and
// waited for, within a limit.
#pragma once

#include <string>

#include "launcher/HeldTool.h"
#include "platform/Platform.h"

namespace zelmora::launcher {

// The most output kept: a run of the tool writes a few KiB; the rest is read and dropped.
constexpr std::size_t kCaptureLimit = 64 * 1024;
// How long the tool may run before it is ended: far beyond any run, short of a hang.
constexpr platform::DWORD kToolTimeLimit = 10 * 60 * 1000;

struct ToolRun {
  enum class Ending {
    Ended,       // it ran and ended; status is its exit status
    NotStarted,  // the system would not start it
    TimedOut,    // it ran past the limit and was ended
  };
  Ending ending = Ending::NotStarted;
  platform::DWORD status = 0;
  std::string captured;  // its standard output and error together, as it wrote them
};

// Runs the tool, which must be held, to its end. A failure of the waiting or reading, where no
// status of the table applies, raises ELaunchFailure.
ToolRun RunTool(const HeldTool& tool);

}  // namespace zelmora::launcher
