#include "platform/Platform.h"

#include <cstdlib>

namespace zelmora::platform {
namespace {
Platform* replacement = nullptr;
}  // namespace

Platform& Host() { return replacement != nullptr ? *replacement : NativePlatform(); }

void EndProcess(UINT exitCode) {
  Host().ExitProcess(exitCode);
  std::_Exit(static_cast<int>(exitCode));
}

ScopedHost::ScopedHost(Platform& platform) : previous_(replacement) { replacement = &platform; }

ScopedHost::~ScopedHost() { replacement = previous_; }

}  // namespace zelmora::platform
