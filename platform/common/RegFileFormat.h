// The registry editor's export format (version 5.00), for one hive.
//
// Text: UTF-16LE with a byte-order mark, CR LF line ends, the line
// "Windows Registry Editor Version 5.00", a blank line, then every key below the root as
// [ROOT\path] in case-insensitive order (depth first, empty intermediate keys included), each
// followed by its values in the order first written and a blank line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common/RegistryTree.h"

namespace zelmora::platform {

// The whole file, byte-order mark included.
std::vector<std::uint8_t> FormatRegFile(const RegistryTree& tree, std::u16string_view rootName);

// The tree a file describes, or nothing when the file is not one this format writes (or the
// registry editor exports) for that root.
std::optional<RegistryTree> ParseRegFile(const std::vector<std::uint8_t>& bytes,
                                         std::u16string_view rootName);

// Formats the same bytes as FormatRegFile, but keeps each key's block until that key's values
// change, so that rewriting a large hive after a small change formats only what changed.
class RegFileWriter {
 public:
  explicit RegFileWriter(std::u16string rootName);
  ~RegFileWriter();
  RegFileWriter(const RegFileWriter&) = delete;
  RegFileWriter& operator=(const RegFileWriter&) = delete;

  // The file as consecutive pieces, valid until the next call of Format or Forget.
  const std::vector<std::span<const std::uint8_t>>& Format(const RegistryTree& tree);
  // Drops every kept block (for a tree that is about to be replaced).
  void Forget();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zelmora::platform
