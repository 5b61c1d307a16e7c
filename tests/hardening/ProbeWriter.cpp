// Writes the probe values [first, first + count) through the native platform, as the tool's own
// registry calls do, one value per call. Exits 0 when every call succeeded.
#include <cstdio>
#include <cstdlib>

#include "platform/NativePlatform.h"
#include "tests/hardening/Probe.h"

int main(int argc, char** argv) {
  using namespace zelmora::platform;
  using zelmora::testing::ProbeData;
  using zelmora::testing::ProbeName;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FIRST COUNT\n", argv[0]);
    return 2;
  }
  const int first = std::atoi(argv[1]);
  const int count = std::atoi(argv[2]);
  Platform& platform = NativePlatform();
  HKEY key = kNoKey;
  LONG error =
      platform.RegCreateKeyExW(kHkeyCurrentUser, zelmora::testing::kProbeKey, 0, nullptr,
                               kRegOptionNonVolatile, kKeyAllAccess, nullptr, &key, nullptr);
  if (error != kErrorSuccess) {
    std::fprintf(stderr, "creating the key failed with %d\n", static_cast<int>(error));
    return 1;
  }
  for (int index = first; index < first + count; ++index) {
    const std::u16string name = ProbeName(index);
    const std::vector<std::uint8_t> data = ProbeData(index);
    error = platform.RegSetValueExW(key, name.c_str(), 0, kRegSz, data.data(),
                                    static_cast<DWORD>(data.size()));
    if (error != kErrorSuccess) {
      std::fprintf(stderr, "writing value %d failed with %d\n", index, static_cast<int>(error));
      return 1;
    }
  }
  return platform.RegCloseKey(key) == kErrorSuccess ? 0 : 1;
}
