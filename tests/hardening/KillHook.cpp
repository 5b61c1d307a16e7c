// Preloaded into the tool (LD_PRELOAD) by the crash tests. ZELMORA_KILL_AT lists stops,
// <call>:<n>[:<how>] separated by commas: just before its nth call of <call> the process kills
// itself with SIGKILL, or, given <how>, causes that processor fault (see InjectedFaults.h) as a
// library gone wrong would. "rename" counts rename and renameat2, "unlink" counts unlink, both
// only on a temporary file (a name ending in ".tmp"); "set_new_handler" is called in start-up,
// "dladdr" only while a failure report is made. So a run can be stopped at one exact step, which
// random kills only hit by chance. <how> "sent": SIGSEGV sent to it, as by `kill -SEGV`;
// "readonly": a write to a read-only page, "bus": a read of a page past its empty file's end,
// both at address 0x40000000 (low, where no sanitizer keeps its shadow).
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/resource.h>
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

__attribute__((constructor)) void ReadStops() {
  const char* setting = std::getenv("ZELMORA_KILL_AT");
  if (setting != nullptr) std::strncpy(stops, setting, sizeof stops - 1);
  sigset_t all;  // "blocked": every signal blocked before the tool starts, as a parent may do
  sigfillset(&all);
  if (std::strstr(stops, "blocked") != nullptr) sigprocmask(SIG_BLOCK, &all, nullptr);
}

void BeforeCall(const char* call, long& calls) {
  char how[16];
  if (!zelmora::testing::StopsAt(stops, call, ++calls, how)) return;
  if (how[0] == '\0') kill(getpid(), SIGKILL);
  if (std::strcmp(how, "sent") == 0) {
    const rlimit noCore{0, 0};  // its default action dumps core: none from a test run
    setrlimit(RLIMIT_CORE, &noCore);
    kill(getpid(), SIGSEGV);
  }
  const bool bus = std::strcmp(how, "bus") == 0;
  if (bus || std::strcmp(how, "readonly") == 0) {
    auto* page = static_cast<volatile char*>(
        mmap(reinterpret_cast<void*>(0x40000000), 4096, PROT_READ,
             MAP_FIXED_NOREPLACE | (bus ? MAP_SHARED : MAP_PRIVATE | MAP_ANONYMOUS),
             bus ? memfd_create("bus", 0) : -1, 0));
    if (page == MAP_FAILED) return;
    if (bus) {
      static_cast<void>(*page);
    } else {
      *page = 1;
    }
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
