#include "host/TextFormat.h"

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

}  // namespace

std::size_t FormatText(std::u16string_view format, std::initializer_list<FormatArg> args,
                       char16_t* out, std::size_t capacity) {
  Output output(out, capacity);
  const FormatArg* next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char16_t unit = format[i];
    if (unit != u'%' || i + 1 == format.size()) {
      output.Put(unit);
      continue;
    }
    const char16_t kind = format[++i];
    if (kind == u'%') {
      output.Put(u'%');
      continue;
    }
    if (kind != u's' && kind != u'd' && kind != u'p') {
      output.Put(u'%');
      output.Put(kind);
      continue;
    }
    if (next == args.end()) continue;  // a placeholder without its argument stays empty
    const FormatArg& arg = *next++;
    if (const auto* text = std::get_if<std::u16string_view>(&arg)) {
      output.Put(*text);
    } else if (const auto* number = std::get_if<std::int32_t>(&arg)) {
      PutDecimal(output, *number);
    } else {
      PutAddress(output, std::get<std::uintptr_t>(arg));
    }
  }
  return output.Length();
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

std::size_t LoadMessage(platform::UINT id, char16_t* buffer, std::size_t capacity) {
  if (capacity == 0) return 0;
  const int length = platform::System().LoadStringW(platform::kExecutableModule, id, buffer,
                                                    static_cast<int>(capacity));
  if (length <= 0) {
    buffer[0] = u'\0';
    return 0;
  }
  return static_cast<std::size_t>(length);
}

std::u16string LoadMessage(platform::UINT id) {
  std::array<char16_t, 256> buffer;
  return std::u16string(buffer.data(), LoadMessage(id, buffer.data(), buffer.size()));
}

}  // namespace zelmora
