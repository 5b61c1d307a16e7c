// The values the probe writer stores beside the tool's runs: one key of its own, names w0000...,
// each with data no other value has, of varied lengths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/StoreTestSupport.h"

namespace zelmora::testing {

inline constexpr char16_t kProbeKey[] = u"Software\\HardeningProbe";

inline std::u16string ProbeName(int index) {
  std::u16string name = u"w0000";
  for (std::size_t at = name.size() - 1; index > 0 && at > 0; --at, index /= 10) {
    name[at] = static_cast<char16_t>(u'0' + index % 10);
  }
  return name;
}

// The stored bytes of a text value: UTF-16LE and a terminating zero unit.
inline std::vector<std::uint8_t> ProbeData(int index) {
  return platform::testing::StringValue(u"datum " + ProbeName(index) +
                                        std::u16string(index % 29, u'+'));
}

}  // namespace zelmora::testing
