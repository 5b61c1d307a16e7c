// Reading the export format. Strict on purpose: a store that does not read back exactly is
// refused rather than half-loaded and then overwritten with what little was understood.
#include <unordered_set>
#include <utility>

#include "platform/common/RegFileFormat.h"
#include "platform/common/RegFileSyntax.h"
#include "platform/common/Utf.h"

namespace zelmora::platform {
namespace {

int HexDigitValue(char16_t unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;  // hand-edited files
  return -1;
}

bool ConsumePrefix(std::u16string_view& text, std::u16string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

// Splits text into lines at CR LF. A lone CR or LF, or a last line without its line end (a
// truncated file), fails the whole read.
class LineReader {
 public:
  explicit LineReader(std::u16string_view text) : rest_(text) {}

  bool Next(std::u16string_view& line) {
    if (failed_ || rest_.empty()) return false;
    const std::size_t end = rest_.find_first_of(u"\r\n");
    if (end == std::u16string_view::npos || rest_[end] != u'\r' || end + 1 == rest_.size() ||
        rest_[end + 1] != u'\n') {
      failed_ = true;
      return false;
    }
    line = rest_.substr(0, end);
    rest_.remove_prefix(end + 2);
    return true;
  }
  bool Failed() const { return failed_; }

 private:
  std::u16string_view rest_;
  bool failed_ = false;
};

class Parser {
 public:
  Parser(std::u16string_view text, std::u16string_view rootName)
      : lines_(text), rootName_(rootName) {}

  std::optional<RegistryTree> Run() {
    std::u16string_view line;
    if (!lines_.Next(line) || line != kHeaderLine) return std::nullopt;
    while (lines_.Next(line)) {
      if (line.empty() || line.front() == u';') continue;
      const bool ok = line.front() == u'['                             ? KeyLine(line)
                      : (line.front() == u'"' || line.front() == u'@') ? ValueLine(line)
                                                                       : false;
      if (!ok) return std::nullopt;
    }
    if (lines_.Failed()) return std::nullopt;
    return std::move(tree_);
  }

 private:
  bool KeyLine(std::u16string_view line) {
    if (line.size() < 2 || line.back() != u']') return false;
    std::u16string_view inner = line.substr(1, line.size() - 2);
    if (inner.size() < rootName_.size() ||
        !SameName(inner.substr(0, rootName_.size()), rootName_)) {
      return false;  // another root, or a deletion entry "[-..."
    }
    inner.remove_prefix(rootName_.size());
    RegistryKey* key = &tree_.Root();
    if (!inner.empty()) {
      if (inner.front() != u'\\') return false;
      inner.remove_prefix(1);
      std::size_t depth = 0;
      while (true) {
        const std::size_t end = inner.find(u'\\');
        const std::u16string_view name = inner.substr(0, end);
        if (!IsValidKeyName(name) || ++depth > kMaxKeyDepth) return false;
        key = &key->SubkeyCreatingMissing(name, nullptr);
        if (end == std::u16string_view::npos) break;
        inner.remove_prefix(end + 1);
      }
    }
    // A key listed twice would leave it open which spelling and which values are meant.
    if (!listed_.insert(key).second) return false;
    current_ = key;
    return true;
  }

  bool ValueLine(std::u16string_view rest) {
    std::u16string name;
    if (!(ConsumePrefix(rest, u"@") || Quoted(rest, name))) return false;
    if (current_ == nullptr || !IsValidValueName(name) || !ConsumePrefix(rest, u"=")) return false;
    if (current_->FindValue(name) != nullptr) return false;

    DWORD type = kRegNone;
    std::vector<std::uint8_t> data;
    if (rest.starts_with(u'"')) {
      std::u16string text;
      if (!Quoted(rest, text) || !rest.empty()) return false;
      type = kRegSz;
      data = Utf16LeWithNul(text);
    } else if (ConsumePrefix(rest, kDwordPrefix)) {
      DWORD number = 0;
      if (rest.size() != 8 || !HexNumber(rest, number)) return false;
      type = kRegDword;
      const auto bytes = DwordLeBytes(number);
      data.assign(bytes.begin(), bytes.end());
    } else if (ConsumePrefix(rest, kBinaryPrefix)) {
      type = kRegBinary;
      if (!HexList(rest, data)) return false;
    } else if (ConsumePrefix(rest, kTypedHexPrefix)) {
      const std::size_t close = rest.find(u')');
      if (close == std::u16string_view::npos || close == 0 || close > 8) return false;
      if (!HexNumber(rest.substr(0, close), type)) return false;
      rest.remove_prefix(close + 1);
      if (!ConsumePrefix(rest, u":") || !HexList(rest, data)) return false;
    } else {
      return false;  // includes deletion entries ("name"=-)
    }
    current_->SetValue(name, type, std::move(data));
    return true;
  }

  // Reads a quoted text at the start of rest, undoing the \\ and \" escapes, and leaves rest
  // after the closing quote.
  static bool Quoted(std::u16string_view& rest, std::u16string& text) {
    if (!rest.starts_with(u'"')) return false;
    for (std::size_t i = 1; i < rest.size(); ++i) {
      const char16_t unit = rest[i];
      if (unit == u'"') {
        rest.remove_prefix(i + 1);
        return true;
      }
      if (unit == u'\\') {
        if (i + 1 == rest.size() || (rest[i + 1] != u'\\' && rest[i + 1] != u'"')) return false;
        ++i;
      }
      text.push_back(rest[i]);
    }
    return false;
  }

  static bool HexNumber(std::u16string_view digits, DWORD& number) {
    number = 0;
    for (char16_t unit : digits) {
      const int digit = HexDigitValue(unit);
      if (digit < 0) return false;
      number = (number << 4) | static_cast<DWORD>(digit);
    }
    return true;
  }

  // Comma-separated byte pairs, possibly empty, continued on following lines after ",\".
  bool HexList(std::u16string_view rest, std::vector<std::uint8_t>& data) {
    if (rest.empty()) return true;
    while (true) {
      if (rest.size() < 2) return false;
      const int high = HexDigitValue(rest[0]);
      const int low = HexDigitValue(rest[1]);
      if (high < 0 || low < 0) return false;
      data.push_back(static_cast<std::uint8_t>(high << 4 | low));
      rest.remove_prefix(2);
      if (rest.empty()) return true;
      if (!ConsumePrefix(rest, u",")) return false;
      if (rest == u"\\") {
        if (!lines_.Next(rest)) return false;
        rest.remove_prefix(std::min(rest.find_first_not_of(u' '), rest.size()));
      }
    }
  }

  LineReader lines_;
  std::u16string_view rootName_;
  RegistryTree tree_;
  RegistryKey* current_ = nullptr;
  std::unordered_set<const RegistryKey*> listed_;
};

}  // namespace

std::optional<RegistryTree> ParseRegFile(const std::vector<std::uint8_t>& bytes,
                                         std::u16string_view rootName) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
    return std::nullopt;
  }
  const std::u16string text = Utf16LeText(std::span(bytes).subspan(2));
  return Parser(text, rootName).Run();
}

}  // namespace zelmora::platform
