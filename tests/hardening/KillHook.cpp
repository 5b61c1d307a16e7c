// Preloaded into the tool (LD_PRELOAD) by the crash tests. With ZELMORA_KILL_AT=<call>:<n> the
// process kills itself with SIGKILL just before its nth call of <call> on a temporary file (a
// name ending in ".tmp"): "rename" counts rename and renameat2, "unlink" counts unlink. So a run
// can be stopped at one exact step of a store write, which random kills only hit by chance.
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

char targetCall[16];
long callsLeft = 0;

__attribute__((constructor)) void ReadTarget() {
  const char* setting = std::getenv("ZELMORA_KILL_AT");
  if (setting == nullptr) return;
  const char* colon = std::strchr(setting, ':');
  if (colon == nullptr || static_cast<std::size_t>(colon - setting) >= sizeof targetCall) return;
  std::memcpy(targetCall, setting, static_cast<std::size_t>(colon - setting));
  callsLeft = std::atol(colon + 1);
}

void BeforeCall(const char* call, const char* path) {
  if (callsLeft <= 0 || path == nullptr || std::strcmp(call, targetCall) != 0) return;
  const std::size_t length = std::strlen(path);
  if (length < 4 || std::strcmp(path + length - 4, ".tmp") != 0) return;
  if (--callsLeft == 0) kill(getpid(), SIGKILL);
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int rename(const char* from, const char* to) noexcept {
  BeforeCall("rename", from);
  static const auto next = Next<int (*)(const char*, const char*)>("rename");
  return next(from, to);
}

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                         unsigned int flags) noexcept {
  BeforeCall("rename", from);
  static const auto next =
      Next<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
  return next(fromFolder, from, toFolder, to, flags);
}

extern "C" int unlink(const char* path) noexcept {
  BeforeCall("unlink", path);
  static const auto next = Next<int (*)(const char*)>("unlink");
  return next(path);
}
