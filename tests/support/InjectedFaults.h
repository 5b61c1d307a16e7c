// Processor faults caused on purpose, at a chosen call, by the test programs that stand in for a
// library gone wrong: the preloaded hook on POSIX and the wrapped back-end under Wine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace zelmora::testing {

// Whether setting -- entries <call>:<n>[:<how>], separated by commas -- stops the nth call of
// call; how gets the entry's <how>, empty when it names none.
inline bool StopsAt(const char* setting, const char* call, long n, char (&how)[16]) {
  for (const char* entry = setting; entry != nullptr; entry = std::strchr(entry, ',')) {
    if (*entry == ',') ++entry;
    char name[32] = "";
    long nth = 0;
    how[0] = '\0';
    if (std::sscanf(entry, "%31[^:,]:%ld:%15[^,]", name, &nth, how) >= 2 &&
        std::strcmp(name, call) == 0 && nth == n) {
      return true;
    }
  }
  return false;
}

// Deeper until the stack runs out: depth never falls to zero, but the compiler cannot know.
template <std::size_t kFrameBytes>
__attribute__((noinline)) int Descend(volatile int* depth) {
  volatile char frame[kFrameBytes];
  *depth = *depth + 1;
  frame[0] = static_cast<char>(*depth);
  return *depth > 0 ? Descend<kFrameBytes>(depth) + frame[0] : 0;
}

// Causes the fault that how names: "read" of address 0x18, "write" of address 0x28 (both in the
// lowest page, which is never mapped), "divide" by zero, "stack" overflow (also "bigstack", by
// frames so large that the fault lands far below the stack's last page) or "illegal"
// instruction. Returns for any other name.
inline void CauseFault(const char* how) {
  volatile std::uintptr_t address = 0;
  volatile int zero = 0;
  volatile int one = 1;  // a dividend the compiler knows would turn the division into a compare
  if (std::strcmp(how, "read") == 0) {
    address = 0x18;
    static_cast<void>(*reinterpret_cast<volatile int*>(address));
  } else if (std::strcmp(how, "write") == 0) {
    address = 0x28;
    *reinterpret_cast<volatile int*>(address) = 1;
  } else if (std::strcmp(how, "divide") == 0) {
    zero = one / zero;
  } else if (std::strcmp(how, "stack") == 0) {
    Descend<1024>(&zero);
  } else if (std::strcmp(how, "bigstack") == 0) {
    Descend<256 * 1024>(&zero);
  } else if (std::strcmp(how, "illegal") == 0) {
    __builtin_trap();
  }
}

}  // namespace zelmora::testing
