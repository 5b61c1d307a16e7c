// Any bytes as the store's file: the reader either refuses them or returns a tree that the
// writer writes, whole and block by block, so that it reads back unchanged.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"

using namespace zelmora::platform;
using namespace zelmora::platform::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<RegistryTree> tree =
      ParseRegFile(std::vector<std::uint8_t>(data, data + size), kRoot);
  if (!tree.has_value()) return 0;
  const std::vector<std::uint8_t> file = RequireRoundTrip(*tree);
  RegFileWriter writer{std::u16string(kRoot)};
  Require(Joined(writer.Format(*tree)) == file, "the block writer differs from the whole file");
  return 0;
}
