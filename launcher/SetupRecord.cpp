#include "launcher/SetupRecord.h"

#include <vector>

#include "platform/Platform.h"
#include "registry/Exceptions.h"
#include "registry/Registry.h"

namespace zelmora::launcher {
namespace {

using platform::DWORD;
using platform::System;

constexpr char16_t kRecordKey[] = u"Software\\Quorvane\\ZelmoraSetup";
// A TEMP of the longest length and its NUL, in bytes: no record holds more.
constexpr DWORD kLongestValue = 32768 * sizeof(char16_t);

std::optional<std::u16string> ReadString(const char16_t* name) {
  std::vector<char16_t> units(kLongestValue / sizeof(char16_t));
  DWORD size = kLongestValue;
  if (System().RegGetValueW(platform::kHkeyCurrentUser, kRecordKey, name, platform::kRrfRtRegSz,
                            nullptr, units.data(), &size) != platform::kErrorSuccess) {
    return std::nullopt;
  }
  // The call counts the NUL that ends the text; a count that is odd, or holds no NUL, or more
  // than was there, is no text this launcher wrote.
  if (size % sizeof(char16_t) != 0 || size == 0 || size > kLongestValue) return std::nullopt;
  const std::size_t length = size / sizeof(char16_t) - 1;
  if (units[length] != u'\0') return std::nullopt;
  return std::u16string(units.data(), length);
}

}  // namespace

std::optional<SetupRecord> ReadSetupRecord() {
  std::optional<std::u16string> build = ReadString(u"Build");
  if (!build) return std::nullopt;
  std::optional<std::u16string> temp = ReadString(u"Temp");
  if (!temp) return std::nullopt;
  return SetupRecord{std::move(*build), std::move(*temp)};
}

bool WriteSetupRecord(const SetupRecord& record) {
  TRegistry registry;
  if (!registry.OpenKey(kRecordKey, true)) return false;
  try {
    registry.WriteString(u"Temp", record.temp);
    registry.WriteString(u"Build", record.build);
  } catch (const ERegistryException&) {
    return false;
  }
  return true;
}

}  // namespace zelmora::launcher
