// The launcher's own failure: a platform call failing where no status of the table applies. It
// escapes the run, and the process entry reports it on standard error with the launcher's own
// status, never one of the tool's.
#pragma once

#include <string_view>

#include "registry/Exceptions.h"

namespace zelmora::launcher {

class ELaunchFailure : public Exception {
 public:
  using Exception::Exception;
  std::u16string_view ClassName() const override { return u"ELaunchFailure"; }
};

// Raises ELaunchFailure naming call and the system's error code for its failure, with the place
// after the call as the failure point.
[[noreturn]] void RaiseLaunchFailure(std::u16string_view call);

}  // namespace zelmora::launcher
