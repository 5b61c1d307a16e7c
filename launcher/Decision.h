// What a run of the tool comes to: a pure function of its exit status and of what it printed.
#pragma once

#include <string_view>

#include "platform/Platform.h"

namespace zelmora::launcher {

struct Decision {
  platform::UINT status;  // the launcher's status, before the record is written
  bool complete;          // the run set everything up: the record is to be written
  bool operator==(const Decision&) const = default;
};

// Complete only on status 0 with "Zelmora Installed" CR LF alone in the output. Any other
// output with status 0 is 20, as is a status that an installer engine reads as success, reboot or
// retry (1707, 3010, 1641, 1618) or that could be taken for one of the launcher's own (20 to 28);
// every other status is the tool's own, passed on.
Decision Decide(platform::DWORD toolStatus, std::string_view captured);

}  // namespace zelmora::launcher
