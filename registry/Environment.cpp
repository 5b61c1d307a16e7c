#include "registry/Environment.h"

#include <algorithm>
#include <array>

#include "platform/Platform.h"

namespace zelmora {
namespace {

using platform::DWORD;
using platform::System;

constexpr DWORD kEnvironmentFirstTry = 1024;

}  // namespace

std::u16string EnvironmentValue(const std::u16string& name) {
  std::u16string result;
  std::array<char16_t, kEnvironmentFirstTry> local;
  DWORD n = System().GetEnvironmentVariableW(name.c_str(), local.data(), kEnvironmentFirstTry);
  if (n < kEnvironmentFirstTry) {
    result.assign(local.data(), n);
    return result;
  }
  // Too long for the first buffer: n is the size needed with the NUL, so read the value once
  // more straight into storage of the exact size. The string's own terminator takes the NUL.
  // Nothing in this process changes the environment, yet the count of that read decides what
  // the storage holds: a value that shrank or went, or a read that failed, leaves only the units
  // really read (never units that nothing wrote), and a value that grew is read again at its new
  // size.
  for (;;) {
    result.resize(n - 1);
    const DWORD read = System().GetEnvironmentVariableW(name.c_str(), result.data(), n);
    if (read <= n) {
      result.resize(std::min(read, n - 1));
      return result;
    }
    n = read;
  }
}

}  // namespace zelmora
