#include "registry/InOutMessages.h"

#include <array>
#include <optional>

#include "registry/Exceptions.h"
#include "registry/MessageTexts.h"
#include "registry/TextFormat.h"

namespace zelmora {
namespace {

struct Row {
  std::int32_t code;
  platform::UINT stringId;
};

// Searched in this order; the first row with the code wins.
constexpr std::array<Row, 7> kRows = {{
    {2, 65527},    // File not found
    {3, 65528},    // Invalid filename
    {4, 65529},    // Too many open files
    {5, 65530},    // File access denied
    {100, 65531},  // Read beyond end of file
    {101, 65532},  // Disk full
    {106, 65533},  // Invalid numeric input
}};
constexpr platform::UINT kOtherCodeFormat = 65526;  // "I/O error %d"

std::optional<std::array<std::u16string, kRows.size()>>& LoadedTexts() {
  static std::optional<std::array<std::u16string, kRows.size()>> texts;
  return texts;
}

}  // namespace

void LoadInOutMessages() {
  std::array<std::u16string, kRows.size()> texts;
  for (std::size_t i = 0; i < kRows.size(); ++i) texts[i] = LoadMessage(kRows[i].stringId);
  LoadedTexts() = std::move(texts);
}

void ReleaseInOutMessages() { LoadedTexts().reset(); }

bool InOutMessagesLoaded() { return LoadedTexts().has_value(); }

std::u16string InOutErrorMessage(std::int32_t code) {
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    if (kRows[i].code != code) continue;
    if (LoadedTexts()) return (*LoadedTexts())[i];
    return LoadMessage(kRows[i].stringId);
  }
  return FormatText(LoadMessage(kOtherCodeFormat), {FormatArg{code}});
}

EInOutError::EInOutError(std::int32_t errorCode)
    : Exception(InOutErrorMessage(errorCode)), errorCode_(errorCode) {}

}  // namespace zelmora
