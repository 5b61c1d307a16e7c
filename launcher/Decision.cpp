#include "launcher/Decision.h"

#include "launcher/LaunchStatus.h"

namespace zelmora::launcher {

Decision Decide(platform::DWORD toolStatus, std::string_view captured) {
  if (toolStatus == 0) {
    if (captured == "Zelmora Installed\r\n") return {kSetUp, true};
    return {kNotCompleted, false};
  }
  switch (toolStatus) {
    case 1707:  // installed
    case 3010:  // installed, reboot needed
    case 1641:  // installed, reboot started
    case 1618:  // another installation runs: retry
      return {kNotCompleted, false};
    default:
      break;
  }
  if (toolStatus >= kNotCompleted && toolStatus <= kStartUpFailure) return {kNotCompleted, false};
  return {toolStatus, false};
}

}  // namespace zelmora::launcher
