#include <cstdlib>

#include "platform/Platform.h"

namespace zelmora::platform {
namespace {
Platform* current = nullptr;
}  // namespace

Platform& System() {
  if (current == nullptr) std::abort();
  return *current;
}

void SetSystem(Platform& platform) { current = &platform; }

void EndProcess(UINT exitCode) {
  System().ExitProcess(exitCode);
  std::_Exit(static_cast<int>(exitCode));
}

ScopedSystem::ScopedSystem(Platform& platform) : previous_(current) { current = &platform; }

ScopedSystem::~ScopedSystem() { current = previous_; }

}  // namespace zelmora::platform
