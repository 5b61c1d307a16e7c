#include "platform/Platform.h"

namespace zelmora::platform {
namespace {
Platform* replacement = nullptr;
}  // namespace

Platform& Host() { return replacement != nullptr ? *replacement : NativePlatform(); }

ScopedHost::ScopedHost(Platform& platform) : previous_(replacement) { replacement = &platform; }

ScopedHost::~ScopedHost() { replacement = previous_; }

}  // namespace zelmora::platform
