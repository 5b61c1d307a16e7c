// What both fuzz targets check: a tree survives being written and read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "platform/common/RegFileFormat.h"
#include "platform/common/RegistryTree.h"

namespace zelmora::platform::fuzzing {

inline constexpr std::u16string_view kRoot = u"HKEY_CURRENT_USER";

// A broken property ends the run as a crash, so that libFuzzer keeps the input.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

// The same keys with the same spellings in the same order, and the same values (names, order,
// types, bytes), all the way down.
inline bool SameKey(const RegistryKey& a, const RegistryKey& b) {
  if (a.Name() != b.Name() || a.SubkeyCount() != b.SubkeyCount()) return false;
  const auto& va = a.Values();
  const auto& vb = b.Values();
  if (va.size() != vb.size()) return false;
  for (std::size_t i = 0; i < va.size(); ++i) {
    if (va[i].name != vb[i].name || va[i].type != vb[i].type || va[i].data != vb[i].data) {
      return false;
    }
  }
  const std::vector<const RegistryKey*> sa = a.Subkeys();
  const std::vector<const RegistryKey*> sb = b.Subkeys();
  for (std::size_t i = 0; i < sa.size(); ++i) {
    if (!SameKey(*sa[i], *sb[i])) return false;
  }
  return true;
}

inline std::vector<std::uint8_t> Joined(const std::vector<std::span<const std::uint8_t>>& pieces) {
  std::vector<std::uint8_t> bytes;
  for (const auto piece : pieces) bytes.insert(bytes.end(), piece.begin(), piece.end());
  return bytes;
}

// Writes the tree, reads the file back and writes what was read: the same tree and the same
// bytes. Returns the file.
inline std::vector<std::uint8_t> RequireRoundTrip(const RegistryTree& tree) {
  const std::vector<std::uint8_t> file = FormatRegFile(tree, kRoot);
  const std::optional<RegistryTree> read = ParseRegFile(file, kRoot);
  Require(read.has_value(), "the reader refuses what the writer wrote");
  Require(SameKey(read->Root(), tree.Root()), "the tree read back differs from the one written");
  Require(FormatRegFile(*read, kRoot) == file, "the tree read back is written differently");
  return file;
}

}  // namespace zelmora::platform::fuzzing
