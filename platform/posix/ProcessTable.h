// The programs that the POSIX back-end started, by the handles it gave for them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>

#include "platform/Platform.h"

namespace zelmora::platform {

struct ChildProcess {
  pid_t pid = 0;
  bool reaped = false;
  int status = 0;                       // as waitpid gave it, once reaped
  std::optional<DWORD> terminatedWith;  // the status TerminateProcess gave it
};

struct ProcessTable {
  // Process handles lie above every descriptor's handle, so that neither is taken for the other.
  static constexpr std::uintptr_t kFirstHandle = std::uintptr_t{1}
                                                 << (sizeof(std::uintptr_t) * 8 - 2);
  std::map<std::uintptr_t, ChildProcess> children;
  std::uintptr_t next = kFirstHandle;
};

}  // namespace zelmora::platform
