#include "registry/MessageTexts.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/MessageFile.h"

namespace zelmora {
namespace {

using platform::System;

constexpr char16_t kLocalesKey[] = u"Software\\Quorvane\\Zelmora\\Locales";
// Long enough for any path Windows gives a module.
constexpr std::size_t kExecutablePathCapacity = 32768;
// A tag's limit on Windows, without its NUL.
constexpr std::size_t kMaxTagLength = 84;

// The texts of the override file in use; made at start-up so that reading them needs no memory.
std::optional<std::vector<MessageText>>& Overrides() {
  static std::optional<std::vector<MessageText>> overrides;
  return overrides;
}

bool IsAsciiLetter(char16_t unit) {
  return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
}
bool IsAsciiDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

// A language tag: subtags of 1 to 8 ASCII letters and digits joined by "-", the first of 2 to 8
// letters. Nothing else reaches a file name: no separator, dot or drive can slip in.
bool IsLanguageTag(std::u16string_view tag) {
  if (tag.empty() || tag.size() > kMaxTagLength) return false;
  bool first = true;
  for (std::size_t start = 0; start <= tag.size();) {
    const std::size_t end = std::min(tag.find(u'-', start), tag.size());
    const std::u16string_view subtag = tag.substr(start, end - start);
    if (subtag.empty() || subtag.size() > 8 || (first && subtag.size() < 2)) return false;
    for (char16_t unit : subtag) {
      if (!IsAsciiLetter(unit) && !(IsAsciiDigit(unit) && !first)) return false;
    }
    first = false;
    start = end + 1;
  }
  return true;
}

// What a registry setting says.
struct Setting {
  enum Kind { kMissing, kOff, kTag, kUnusable } kind;
  std::u16string tag;
};

Setting ReadSetting(platform::HKEY root, const std::u16string& executable) {
  std::array<char16_t, kMaxTagLength + 2> data{};
  auto size = static_cast<platform::DWORD>(sizeof data);
  platform::DWORD type = 0;
  const platform::LONG error = System().RegGetValueW(
      root, kLocalesKey, executable.c_str(), platform::kRrfRtRegSz, &type, data.data(), &size);
  if (error == platform::kErrorFileNotFound) return {Setting::kMissing, {}};
  if (error != platform::kErrorSuccess || type != platform::kRegSz) return {Setting::kUnusable, {}};
  const std::u16string_view stored(data.data(), std::min<std::size_t>(size / 2, data.size()));
  const std::u16string_view tag = stored.substr(0, stored.find(u'\0'));
  if (tag.empty()) return {Setting::kOff, {}};
  if (!IsLanguageTag(tag)) return {Setting::kUnusable, {}};
  return {Setting::kTag, std::u16string(tag)};
}

// The first of the user's interface languages; nothing when there is none or the call fails.
std::optional<std::u16string> InterfaceLanguage() {
  std::vector<char16_t> list(1024);
  platform::DWORD count = 0;
  auto size = static_cast<platform::DWORD>(list.size());
  if (!System().GetUserPreferredUILanguages(platform::kMuiLanguageName, &count, list.data(),
                                            &size) ||
      count == 0) {
    return std::nullopt;
  }
  std::u16string_view first(list.data(), std::min<std::size_t>(size, list.size()));
  first = first.substr(0, first.find(u'\0'));
  if (!IsLanguageTag(first)) return std::nullopt;
  return std::u16string(first);
}

// The executable's path with its extension, if any, replaced by ".tag".
std::u16string FilePathFor(std::u16string_view executable, std::u16string_view tag) {
  const std::size_t separator = executable.find_last_of(u"\\/");
  const std::size_t nameStart = separator == std::u16string_view::npos ? 0 : separator + 1;
  const std::size_t dot = executable.rfind(u'.');
  const std::size_t stemEnd =
      dot != std::u16string_view::npos && dot > nameStart ? dot : executable.size();
  std::u16string path(executable.substr(0, stemEnd));
  path += u'.';
  path += tag;
  return path;
}

// Closes the file on every way out of the reading; Close tells whether closing worked.
class OpenedFile {
 public:
  explicit OpenedFile(platform::HANDLE handle) : handle_(handle) {}
  ~OpenedFile() {
    if (handle_ == platform::kInvalidHandle) return;
    try {
      System().CloseHandle(handle_);
    } catch (...) {  // the lookup is being abandoned already
    }
  }
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;
  platform::HANDLE Get() const { return handle_; }
  bool Close() {
    const platform::HANDLE handle = std::exchange(handle_, platform::kInvalidHandle);
    return System().CloseHandle(handle) != 0;
  }

 private:
  platform::HANDLE handle_;
};

// One try of a file: not there (the next may be tried), refused or unreadable (no override),
// or read.
struct FileOutcome {
  enum Kind { kAbsent, kRefused, kRead } kind;
  std::vector<MessageText> texts;
};

FileOutcome ReadOverrideFile(const std::u16string& path) {
  OpenedFile file(System().CreateFileW(path.c_str(), platform::kGenericRead,
                                       platform::kFileShareRead, nullptr, platform::kOpenExisting,
                                       platform::kFileAttributeNormal, platform::kNoHandle));
  if (file.Get() == platform::kInvalidHandle) {
    const platform::DWORD error = System().GetLastError();
    const bool absent =
        error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
    return {absent ? FileOutcome::kAbsent : FileOutcome::kRefused, {}};
  }
  std::int64_t size = 0;
  if (!System().GetFileSizeEx(file.Get(), &size) || size < 0 ||
      static_cast<std::uint64_t>(size) > kMaxMessageFileBytes) {
    return {FileOutcome::kRefused, {}};
  }
  // One byte more than the size, so that a file that grew meanwhile is seen to be longer.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size) + 1);
  std::size_t used = 0;
  while (used < bytes.size()) {
    platform::DWORD read = 0;
    if (!System().ReadFile(file.Get(), bytes.data() + used,
                           static_cast<platform::DWORD>(bytes.size() - used), &read, nullptr)) {
      return {FileOutcome::kRefused, {}};
    }
    if (read == 0) break;
    used += std::min<std::size_t>(read, bytes.size() - used);
  }
  if (!file.Close() || used > static_cast<std::size_t>(size)) return {FileOutcome::kRefused, {}};
  std::optional<std::vector<MessageText>> texts = ReadMessageFile(std::span(bytes.data(), used));
  if (!texts) return {FileOutcome::kRefused, {}};
  return {FileOutcome::kRead, std::move(*texts)};
}

// Whether the report's code page has every character of the texts. A translation that comes out
// as question marks tells the reader less than the string table's texts.
bool ReportCodePageShows(const std::vector<MessageText>& texts) {
  for (const MessageText& entry : texts) {
    if (entry.text.empty()) continue;
    platform::BOOL usedDefault = 0;
    const int size = System().WideCharToMultiByte(platform::kCodePageOem, 0, entry.text.data(),
                                                  static_cast<int>(entry.text.size()), nullptr, 0,
                                                  nullptr, &usedDefault);
    // A UTF-8 code page has every character, and refuses the question.
    const bool shown =
        size > 0 ? usedDefault == 0 : System().GetLastError() == platform::kErrorInvalidParameter;
    if (!shown) return false;
  }
  return true;
}

std::optional<std::vector<MessageText>> LookUpOverrides() {
  std::u16string executable(kExecutablePathCapacity, u'\0');
  const platform::DWORD length =
      System().GetModuleFileNameW(platform::kExecutableModule, executable.data(),
                                  static_cast<platform::DWORD>(executable.size()));
  // Without the whole path there is no setting to look up and no file beside it.
  if (length == 0 || length >= executable.size()) return std::nullopt;
  executable.resize(length);

  Setting setting = ReadSetting(platform::kHkeyCurrentUser, executable);
  if (setting.kind == Setting::kMissing) {
    setting = ReadSetting(platform::kHkeyLocalMachine, executable);
  }
  std::u16string tag;
  if (setting.kind == Setting::kTag) {
    tag = std::move(setting.tag);
  } else if (setting.kind == Setting::kMissing) {
    std::optional<std::u16string> language = InterfaceLanguage();
    if (!language) return std::nullopt;
    tag = std::move(*language);
  } else {
    return std::nullopt;
  }

  FileOutcome outcome = ReadOverrideFile(FilePathFor(executable, tag));
  const std::size_t region = tag.find(u'-');
  if (outcome.kind == FileOutcome::kAbsent && region != std::u16string::npos) {
    outcome = ReadOverrideFile(FilePathFor(executable, std::u16string_view(tag).substr(0, region)));
  }
  if (outcome.kind != FileOutcome::kRead || !ReportCodePageShows(outcome.texts))
    return std::nullopt;
  return std::move(outcome.texts);
}

}  // namespace

void LoadMessageOverrides() {
  // Made completely before it is kept, so that a failure leaves the string table's texts alone.
  std::optional<std::vector<MessageText>> found;
  try {
    found = LookUpOverrides();
  } catch (...) {
    found.reset();
  }
  Overrides() = std::move(found);
}

void ReleaseMessageOverrides() { Overrides().reset(); }

bool MessageOverridesLoaded() { return Overrides().has_value(); }

std::size_t LoadMessage(platform::UINT id, char16_t* buffer, std::size_t capacity) {
  if (capacity == 0) return 0;
  if (const auto& overrides = Overrides()) {
    for (const MessageText& entry : *overrides) {
      if (entry.id != id) continue;
      const std::size_t length = std::min(entry.text.size(), capacity - 1);
      std::copy_n(entry.text.begin(), length, buffer);
      buffer[length] = u'\0';
      return length;
    }
  }
  const int length =
      System().LoadStringW(platform::kExecutableModule, id, buffer, static_cast<int>(capacity));
  if (length <= 0) {
    buffer[0] = u'\0';
    return 0;
  }
  return static_cast<std::size_t>(length);
}

std::u16string LoadMessage(platform::UINT id) {
  std::array<char16_t, kMaxMessageTextUnits + 1> buffer;
  return std::u16string(buffer.data(), LoadMessage(id, buffer.data(), buffer.size()));
}

}  // namespace zelmora
