// Any bytes as a message override file: the reader either refuses them or returns texts that
// keep its promises (ids of the string table, each once, at most 255 units, the placeholders of
// the table's own text), and that read back the same when written out in the file's form.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/common/BuiltInMessages.h"
#include "platform/common/Utf.h"
#include "registry/MessageFile.h"
#include "registry/TextFormat.h"

using namespace zelmora;
using platform::fuzzing::Require;

namespace {

std::optional<std::vector<MessageText>> Read(std::string_view file) {
  return ReadMessageFile(
      std::span(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
}

std::string Written(const std::vector<MessageText>& texts) {
  std::string file;
  for (const MessageText& entry : texts) {
    file += std::to_string(entry.id) + " = ";
    for (char c : platform::Utf16ToUtf8(entry.text)) {
      const std::size_t escaped = std::string_view("\\\r\n\t").find(c);
      file += escaped == std::string_view::npos ? std::string(1, c)
                                                : std::string{'\\', "\\rnt"[escaped]};
    }
    file += '\n';
  }
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<std::vector<MessageText>> texts =
      Read(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!texts) return 0;
  for (std::size_t i = 0; i < texts->size(); ++i) {
    const MessageText& entry = (*texts)[i];
    const std::optional<std::u16string_view> builtIn = platform::BuiltInMessage(entry.id);
    Require(builtIn.has_value(), "an id the string table does not have was accepted");
    Require(entry.text.size() <= kMaxMessageTextUnits, "a text over the limit was accepted");
    Require(FormatPlaceholders(entry.text) == FormatPlaceholders(*builtIn),
            "a text with other placeholders was accepted");
    for (std::size_t j = 0; j < i; ++j) {
      Require((*texts)[j].id != entry.id, "an id listed twice was accepted");
    }
  }
  Require(Read(Written(*texts)) == texts, "the texts written out read back differently");
  return 0;
}
