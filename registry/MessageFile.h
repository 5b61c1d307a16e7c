// The message override file: texts that replace string-table texts, one per line.
//
// UTF-8 (an optional byte-order mark), lines ended by LF or CR LF. Blank lines (nothing, or only
// spaces and tabs) and lines whose first character is "#" are skipped. Every other line is
// "<id> = <text>": a decimal id of the string table, optional spaces or tabs, "=", optional
// spaces or tabs, and the text to the end of the line, in which \r, \n, \t and \\ stand for CR,
// LF, tab and a backslash. The file is hostile input: anything else in it refuses it whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace zelmora {

struct MessageText {
  platform::UINT id;
  std::u16string text;
  bool operator==(const MessageText&) const = default;
};

constexpr std::size_t kMaxMessageFileBytes = 64 * 1024;
constexpr std::size_t kMaxMessageTextUnits = 255;

// The file's texts in the order it lists them, or nothing when the file is refused: larger than
// kMaxMessageFileBytes, not UTF-8, a control character other than a tab outside the texts or a
// line end (DEL and U+0080 to U+009F included), a line of another form, an id that the string
// table does not have or that is listed twice, a backslash before anything but r, n, t or a
// backslash, a text longer than kMaxMessageTextUnits, or a text whose placeholders (%s %d %p;
// %% is none) differ from those of the string table's own text for the id. Makes no platform
// calls.
std::optional<std::vector<MessageText>> ReadMessageFile(std::span<const std::uint8_t> bytes);

}  // namespace zelmora
