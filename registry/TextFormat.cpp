#include "registry/TextFormat.h"

#include <array>

namespace zelmora {
namespace {

// Appends to a fixed buffer and silently stops at its end.
class Output {
 public:
  Output(char16_t* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
  void Put(char16_t unit) {
    if (length_ < capacity_) out_[length_++] = unit;
  }
  void Put(std::u16string_view text) {
    for (char16_t unit : text) Put(unit);
  }
  std::size_t Length() const { return length_; }

 private:
  char16_t* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
};

void PutDecimal(Output& output, std::int32_t value) {
  // Widened so that the most negative value has a magnitude too.
  std::int64_t magnitude = value;
  if (magnitude < 0) {
    output.Put(u'-');
    magnitude = -magnitude;
  }
  std::array<char16_t, 10> digits;
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (count > 0) output.Put(digits[--count]);
}

void PutAddress(Output& output, std::uintptr_t value) {
  constexpr char16_t kHex[] = u"0123456789ABCDEF";
  const auto wide = static_cast<std::uint64_t>(value);
  for (int shift = 60; shift >= 0; shift -= 4) output.Put(kHex[(wide >> shift) & 0xF]);
}

// Walks a format: literal(unit) for each unit printed as it stands, placeholder(kind) for each
// %s, %d and %p. "%%" is one literal percent sign; a percent sign before any other unit, or at
// the end, stands for itself.
template <typename Literal, typename Placeholder>
void ScanFormat(std::u16string_view format, Literal literal, Placeholder placeholder) {
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char16_t unit = format[i];
    if (unit != u'%' || i + 1 == format.size()) {
      literal(unit);
      continue;
    }
    const char16_t kind = format[++i];
    if (kind == u'%') {
      literal(u'%');
    } else if (kind != u's' && kind != u'd' && kind != u'p') {
      literal(u'%');
      literal(kind);
    } else {
      placeholder(kind);
    }
  }
}

}  // namespace

std::size_t FormatText(std::u16string_view format, std::initializer_list<FormatArg> args,
                       char16_t* out, std::size_t capacity) {
  Output output(out, capacity);
  const FormatArg* next = args.begin();
  ScanFormat(
      format, [&](char16_t unit) { output.Put(unit); },
      [&](char16_t) {
        if (next == args.end()) return;  // a placeholder without its argument stays empty
        const FormatArg& arg = *next++;
        if (const auto* text = std::get_if<std::u16string_view>(&arg)) {
          output.Put(*text);
        } else if (const auto* number = std::get_if<std::int32_t>(&arg)) {
          PutDecimal(output, *number);
        } else {
          PutAddress(output, std::get<std::uintptr_t>(arg));
        }
      });
  return output.Length();
}

std::u16string FormatPlaceholders(std::u16string_view format) {
  std::u16string kinds;
  ScanFormat(
      format, [](char16_t) {}, [&kinds](char16_t kind) { kinds.push_back(kind); });
  return kinds;
}

std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArg> args) {
  // Each placeholder adds at most its text or 20 units, so this bound is never reached.
  std::size_t bound = format.size() + 24 * args.size();
  for (const FormatArg& arg : args) {
    if (const auto* text = std::get_if<std::u16string_view>(&arg)) bound += text->size();
  }
  std::u16string result(bound, u'\0');
  result.resize(FormatText(format, args, result.data(), result.size()));
  return result;
}

}  // namespace zelmora
