// Reading a program's version resource: the VS_VERSIONINFO block as the resource compiler stores
// it (a tree of nodes, each its length, its value's length, its type, a UTF-16 key ended by a NUL,
// then its value and its children, each on a 4-byte boundary of the block), so that the launcher
// learns the tool's build from the very file it starts, on every build alike. Nothing here
// trusts a length: each is held to its parent's, and any input, however broken, ends in a
// bounded number of steps with an answer or none.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zelmora::platform {

// The first version block inside bytes (a program file, or what GetFileVersionInfoW copied): a
// node keyed "VS_VERSION_INFO" whose value is the 52-byte fixed information with its signature,
// and whose length lies within bytes. A bare copy of the key text elsewhere is no block. Returns
// the block's bytes, or an empty span when there is none.
std::span<const std::uint8_t> FindVersionBlock(std::span<const std::uint8_t> bytes);

// The text of the string named key (its ASCII letters in any case: a resource script's author
// picks the case) in the first string table of the block's first StringFileInfo, up to its first
// NUL; empty when the value is. None when block does not start with a version block, when there is
// no such string, or when any node on the way to it is malformed.
std::optional<std::u16string> VersionString(std::span<const std::uint8_t> block,
                                            std::u16string_view key);

}  // namespace zelmora::platform
