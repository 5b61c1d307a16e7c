#include "platform/common/BuiltInMessages.h"

namespace zelmora::platform {
namespace {

struct Entry {
  UINT id;
  std::u16string_view text;
};

#define MESSAGE(id, text) Entry{id, u"" text},
constexpr Entry kEntries[] = {
#include "platform/common/MessageTable.inc"
};
#undef MESSAGE

}  // namespace

std::optional<std::u16string_view> BuiltInMessage(UINT id) {
  for (const Entry& entry : kEntries) {
    if (entry.id == id) return entry.text;
  }
  return std::nullopt;
}

int CopyBuiltInMessage(UINT id, char16_t* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return 0;
  const std::u16string_view text = BuiltInMessage(id).value_or(u"");
  const std::size_t length =
      text.size() < static_cast<std::size_t>(capacity) ? text.size() : capacity - 1;
  text.copy(buffer, length);
  buffer[length] = u'\0';
  return static_cast<int>(length);
}

}  // namespace zelmora::platform
