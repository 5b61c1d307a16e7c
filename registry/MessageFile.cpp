#include "registry/MessageFile.h"

#include <algorithm>
#include <string_view>

#include "platform/common/BuiltInMessages.h"
#include "platform/common/Utf.h"
#include "registry/TextFormat.h"

namespace zelmora {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view SkipSpaces(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  return text;
}

// Control characters would reach the report raw, where a text could clear the reader's screen
// or pass for lines of the tool's own. Raw, only tabs and line ends may stand in the file.
bool HasStrayControl(std::string_view file) {
  for (std::size_t i = 0; i < file.size(); ++i) {
    const auto byte = static_cast<unsigned char>(file[i]);
    const bool lineEnd = byte == '\n' || (byte == '\r' && file.substr(i + 1, 1) == "\n");
    if ((byte < 0x20 && byte != '\t' && !lineEnd) || byte == 0x7F) return true;
    // U+0080 to U+009F; in well-formed UTF-8 no other sequence starts C2 80 to C2 9F.
    if (byte == 0xC2 && i + 1 < file.size() && static_cast<unsigned char>(file[i + 1]) <= 0x9F) {
      return true;
    }
  }
  return false;
}

// The text with its escapes replaced, or nothing for a backslash before anything else, for a
// \r not followed by \n, or for a raw tab, which in a text is a slip: \t stands for one.
std::optional<std::u16string> Unescape(std::u16string_view text) {
  std::u16string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\t') return std::nullopt;
    if (text[i] != u'\\') {
      result.push_back(text[i]);
      continue;
    }
    const std::size_t escape =
        ++i < text.size() ? std::u16string_view(u"rnt\\").find(text[i]) : std::u16string_view::npos;
    if (escape == std::u16string_view::npos) return std::nullopt;
    result.push_back(u"\r\n\t\\"[escape]);
  }
  // A carriage return alone would send the report back over a line already on the console.
  for (std::size_t i = 0; i < result.size(); ++i) {
    if (result[i] == u'\r' && (i + 1 == result.size() || result[i + 1] != u'\n')) {
      return std::nullopt;
    }
  }
  return result;
}

// One "<id> = <text>" line, checked against the string table.
std::optional<MessageText> ReadEntry(std::string_view line) {
  std::size_t digits = 0;
  std::uint64_t id = 0;
  while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') {
    // Any id beyond the table's range is unknown; counting stops before it could overflow.
    id = std::min<std::uint64_t>(id * 10 + static_cast<std::uint64_t>(line[digits] - '0'),
                                 std::uint64_t{1} << 32);
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  std::string_view rest = SkipSpaces(line.substr(digits));
  if (rest.empty() || rest.front() != '=') return std::nullopt;
  rest = SkipSpaces(rest.substr(1));

  if (id > 0xFFFFFFFFu) return std::nullopt;
  const auto stringId = static_cast<platform::UINT>(id);
  const std::optional<std::u16string_view> builtIn = platform::BuiltInMessage(stringId);
  if (!builtIn) return std::nullopt;
  std::optional<std::u16string> text = Unescape(platform::Utf8ToUtf16(rest));
  if (!text || text->size() > kMaxMessageTextUnits) return std::nullopt;
  if (FormatPlaceholders(*text) != FormatPlaceholders(*builtIn)) return std::nullopt;
  return MessageText{stringId, std::move(*text)};
}

}  // namespace

std::optional<std::vector<MessageText>> ReadMessageFile(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kMaxMessageFileBytes) return std::nullopt;
  std::string_view file(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (file.starts_with(kByteOrderMark)) file.remove_prefix(kByteOrderMark.size());
  if (!platform::IsWellFormedUtf8(file) || HasStrayControl(file)) return std::nullopt;

  std::vector<MessageText> texts;
  while (!file.empty()) {
    const std::size_t end = file.find('\n');
    std::string_view line = file.substr(0, end);
    file.remove_prefix(end == std::string_view::npos ? file.size() : end + 1);
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);

    if (SkipSpaces(line).empty() || line.front() == '#') continue;
    std::optional<MessageText> entry = ReadEntry(line);
    if (!entry) return std::nullopt;
    const bool listed = std::any_of(texts.begin(), texts.end(),
                                    [&](const MessageText& seen) { return seen.id == entry->id; });
    if (listed) return std::nullopt;
    texts.push_back(std::move(*entry));
  }
  return texts;
}

}  // namespace zelmora
