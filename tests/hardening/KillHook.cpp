// Preloaded into the tool (LD_PRELOAD) by the crash tests. ZELMORA_KILL_AT lists stops,
// <call>:<n>[:<how>] separated by commas: just before its nth call of <call> the process kills
// itself with SIGKILL, or, given <how>, causes that processor fault (see InjectedFaults.h) as a
// library gone wrong would, or a bus error for <how> "bus", or for <how> "sent-segv" has another
// process send it SIGSEGV, as `kill -SEGV` does, which is no fault. "rename" counts rename and
// renameat2, "unlink" counts unlink, both only on a temporary file (a name ending in ".tmp");
// "write" counts writes to standard output; "set_new_handler" is called in start-up and again in
// shut-down, "dladdr" only while a failure report is made. So a run can be stopped at one exact
// step, which random kills only hit by chance.
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "tests/support/InjectedFaults.h"

namespace {

char stops[128];
long renames = 0;
long unlinks = 0;
long newHandlers = 0;
long lookups = 0;
long outputWrites = 0;

__attribute__((constructor)) void ReadStops() {
  const char* setting = std::getenv("ZELMORA_KILL_AT");
  if (setting != nullptr) std::strncpy(stops, setting, sizeof stops - 1);
}

void BeforeCall(const char* call, long& calls) {
  char how[16];
  if (!zelmora::testing::StopsAt(stops, call, ++calls, how)) return;
  if (how[0] == '\0') kill(getpid(), SIGKILL);
  if (std::strcmp(how, "sent-segv") == 0) {
    // The signal's default action dumps core: none from a test run.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const pid_t sender = fork();
    if (sender == 0) {
      kill(getppid(), SIGSEGV);
      _exit(0);
    }
    // Once the sender has ended, the signal has been delivered.
    if (sender > 0) waitpid(sender, nullptr, 0);
    return;
  }
  if (std::strcmp(how, "bus") == 0) {
    // A bus error: a read of a mapped page past the end of its empty file, at a fixed address
    // (low, where no sanitizer keeps its shadow) so that the report's text is known.
    const int empty = memfd_create("bus", 0);
    void* page = mmap(reinterpret_cast<void*>(0x40000000), 4096, PROT_READ,
                      MAP_SHARED | MAP_FIXED_NOREPLACE, empty, 0);
    if (page != MAP_FAILED) static_cast<void>(*static_cast<volatile const char*>(page));
    return;
  }
  zelmora::testing::CauseFault(how);
}

void BeforeCall(const char* call, long& calls, const char* path) {
  const std::size_t length = path != nullptr ? std::strlen(path) : 0;
  if (length >= 4 && std::strcmp(path + length - 4, ".tmp") == 0) BeforeCall(call, calls);
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int rename(const char* from, const char* to) noexcept {
  BeforeCall("rename", renames, from);
  static const auto next = Next<int (*)(const char*, const char*)>("rename");
  return next(from, to);
}

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                         unsigned int flags) noexcept {
  BeforeCall("rename", renames, from);
  static const auto next =
      Next<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
  return next(fromFolder, from, toFolder, to, flags);
}

extern "C" int unlink(const char* path) noexcept {
  BeforeCall("unlink", unlinks, path);
  static const auto next = Next<int (*)(const char*)>("unlink");
  return next(path);
}

extern "C" ssize_t write(int fd, const void* bytes, size_t size) {
  if (fd == STDOUT_FILENO) BeforeCall("write", outputWrites);
  static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  return next(fd, bytes, size);
}

extern "C" int dladdr(const void* address, Dl_info* info) noexcept {
  BeforeCall("dladdr", lookups);
  static const auto next = Next<int (*)(const void*, Dl_info*)>("dladdr");
  return next(address, info);
}

std::new_handler std::set_new_handler(std::new_handler handler) noexcept {
  BeforeCall("set_new_handler", newHandlers);
  static const auto next =
      Next<std::new_handler (*)(std::new_handler)>("_ZSt15set_new_handlerPFvvE");
  return next(handler);
}
