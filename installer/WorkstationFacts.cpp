#include "installer/WorkstationFacts.h"

#include <algorithm>
#include <array>

#include "platform/Platform.h"

namespace zelmora {
namespace {

using platform::DWORD;
using platform::System;

constexpr DWORD kUserNameCapacity = 256;
constexpr std::u16string_view kDesignatedAccount = u"UPSCTRL";

bool IsTrimmable(char16_t unit) { return unit <= 0x0020; }

}  // namespace

std::u16string CurrentUserName() {
  std::array<char16_t, kUserNameCapacity> buffer;
  DWORD count = kUserNameCapacity;
  std::u16string raw;
  if (System().GetUserNameW(buffer.data(), &count) != 0) {
    std::size_t length = 0;
    while (length < kUserNameCapacity && buffer[length] != u'\0') ++length;
    raw.assign(buffer.data(), length);
  }
  return TrimEdges(raw);
}

std::u16string TrimEdges(const std::u16string& text) {
  if (!text.empty() && !IsTrimmable(text.front()) && !IsTrimmable(text.back())) return text;
  std::size_t first = 0;
  while (first < text.size() && IsTrimmable(text[first])) ++first;
  if (first == text.size()) return std::u16string();
  std::size_t last = text.size() - 1;
  while (IsTrimmable(text[last])) --last;
  return text.substr(first, last - first + 1);
}

std::u16string AsciiUpperCase(std::u16string_view text) {
  std::u16string result(text);
  for (char16_t& unit : result) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 0x20);
  }
  return result;
}

bool IsDesignatedAccount(std::u16string_view userName) {
  return AsciiUpperCase(userName) == kDesignatedAccount;
}

}  // namespace zelmora
