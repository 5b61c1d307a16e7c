#include "launcher/LaunchFailure.h"

#include <cstdint>

#include "platform/Platform.h"
#include "registry/FailurePoint.h"
#include "registry/TextFormat.h"

namespace zelmora::launcher {

ZELMORA_NOINLINE void RaiseLaunchFailure(std::u16string_view call) {
  const auto code = static_cast<std::int32_t>(platform::System().GetLastError());
  ELaunchFailure failure(FormatText(u"%s failed with system error %d", {call, code}));
  failure.SetFailurePoint(ZELMORA_RETURN_ADDRESS());
  throw failure;
}

}  // namespace zelmora::launcher
