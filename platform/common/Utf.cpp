#include "platform/common/Utf.h"

#include <cstdint>

namespace zelmora::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

template <typename Sink>
void PutUtf16(Sink& out, char32_t cp) {
  if (cp < 0x10000) {
    out(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

template <typename Sink>
void PutUtf8(Sink& out, char32_t cp) {
  if (cp < 0x80) {
    out(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out(static_cast<char>(0xC0 | (cp >> 6)));
    out(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out(static_cast<char>(0xE0 | (cp >> 12)));
    out(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out(static_cast<char>(0xF0 | (cp >> 18)));
    out(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Returns whether the text was well-formed throughout.
template <typename Sink>
bool DecodeUtf8(std::string_view utf8, Sink& out) {
  bool wellFormed = true;
  std::size_t i = 0;
  const std::size_t n = utf8.size();
  while (i < n) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    if (lead < 0x80) {
      out(static_cast<char16_t>(lead));
      ++i;
      continue;
    }
    // Length and the allowed range of the first continuation byte, which rules out overlong
    // forms, surrogates and code points above U+10FFFF (Unicode's well-formed table).
    int length = 0;
    std::uint8_t low = 0x80, high = 0xBF;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out(static_cast<char16_t>(kReplacement));
      wellFormed = false;
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 1; k < length; ++k, ++j) {
      if (j >= n) {
        ok = false;
        break;
      }
      const auto b = static_cast<std::uint8_t>(utf8[j]);
      const std::uint8_t lo = (k == 1) ? low : 0x80;
      const std::uint8_t hi = (k == 1) ? high : 0xBF;
      if (b < lo || b > hi) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
    if (ok) {
      PutUtf16(out, cp);
    } else {
      // The maximal subpart (lead plus the continuation bytes that were valid) is one U+FFFD.
      out(static_cast<char16_t>(kReplacement));
      wellFormed = false;
    }
    i = j;
  }
  return wellFormed;
}

template <typename Sink>
void EncodeUtf8(std::u16string_view utf16, Sink& out) {
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      PutUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      PutUtf8(out, kReplacement);
    } else {
      PutUtf8(out, unit);
    }
  }
}

// Writes into a fixed buffer as far as it reaches and counts everything.
template <typename Unit>
struct BoundedSink {
  Unit* out;
  std::size_t capacity;
  std::size_t count = 0;
  void operator()(Unit unit) {
    if (count < capacity) out[count] = unit;
    ++count;
  }
};

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  auto sink = [&out](char16_t unit) { out.push_back(unit); };
  DecodeUtf8(utf8, sink);
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  auto sink = [&out](char unit) { out.push_back(unit); };
  EncodeUtf8(utf16, sink);
  return out;
}

std::size_t Utf8ToUtf16(std::string_view utf8, char16_t* out, std::size_t capacity) {
  BoundedSink<char16_t> sink{out, capacity};
  DecodeUtf8(utf8, sink);
  return sink.count;
}

bool IsWellFormedUtf8(std::string_view utf8) {
  auto discard = [](char16_t) {};
  return DecodeUtf8(utf8, discard);
}

std::size_t Utf16ToUtf8(std::u16string_view utf16, char* out, std::size_t capacity) {
  BoundedSink<char> sink{out, capacity};
  EncodeUtf8(utf16, sink);
  return sink.count;
}

void AppendUtf16Le(std::u16string_view text, std::vector<std::uint8_t>& bytes) {
  const std::size_t start = bytes.size();
  bytes.resize(start + 2 * text.size());
  std::uint8_t* out = bytes.data() + start;
  for (char16_t unit : text) {
    *out++ = static_cast<std::uint8_t>(unit & 0xFF);
    *out++ = static_cast<std::uint8_t>(unit >> 8);
  }
}

std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  AppendUtf16Le(text, bytes);
  return bytes;
}

std::vector<std::uint8_t> Utf16LeWithNul(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(2 * (text.size() + 1));
  AppendUtf16Le(text, bytes);
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

std::u16string Utf16LeText(std::span<const std::uint8_t> bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return text;
}

std::array<std::uint8_t, 4> DwordLeBytes(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::uint32_t DwordFromLe(std::span<const std::uint8_t, 4> bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

}  // namespace zelmora::platform
