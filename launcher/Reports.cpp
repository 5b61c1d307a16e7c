#include "launcher/Reports.h"

#include <array>

#include "launcher/Environment.h"
#include "launcher/FileWrite.h"
#include "launcher/LaunchStatus.h"
#include "registry/TextFormat.h"

namespace zelmora::launcher {
namespace {

using platform::DWORD;
using platform::System;

// Longer than any computer or account name Windows allows (15 and 256 units, a domain of 255).
constexpr DWORD kNameCapacity = 1024;

std::optional<std::u16string> ComputerName() {
  std::array<char16_t, kNameCapacity> name{};
  DWORD size = kNameCapacity;
  if (System().GetComputerNameW(name.data(), &size) == 0 || size >= kNameCapacity) {
    return std::nullopt;
  }
  return std::u16string(name.data(), size);
}

std::optional<std::u16string> AccountName() {
  std::array<char16_t, kNameCapacity> name{};
  DWORD size = kNameCapacity;
  if (System().GetUserNameExW(platform::kNameSamCompatible, name.data(), &size) == 0 ||
      size >= kNameCapacity) {
    return std::nullopt;
  }
  return std::u16string(name.data(), size);
}

bool Unfit(char16_t unit) {
  return unit < 0x20 || std::u16string_view(u"<>:\"/\\|?*").find(unit) != std::u16string::npos;
}

std::u16string ReportPath(const std::u16string& folder, char16_t separator) {
  const std::optional<std::u16string> name = ReportName();
  return name ? InFolder(folder, *name, separator) : std::u16string();
}

}  // namespace

std::u16string FileNamePart(std::u16string_view text) {
  std::u16string part(text);
  for (char16_t& unit : part) {
    if (Unfit(unit)) unit = u'_';
  }
  for (auto unit = part.rbegin(); unit != part.rend() && (*unit == u'.' || *unit == u' '); ++unit) {
    *unit = u'_';
  }
  return part;
}

std::optional<std::u16string> ReportName() {
  const std::optional<std::u16string> computer = ComputerName();
  const std::optional<std::u16string> account = AccountName();
  if (!computer || !account) return std::nullopt;
  const std::size_t backslash = account->find(u'\\');
  const std::u16string_view domain = backslash == std::u16string::npos
                                         ? std::u16string_view(*computer)
                                         : std::u16string_view(*account).substr(0, backslash);
  const std::u16string_view user = backslash == std::u16string::npos
                                       ? std::u16string_view(*account)
                                       : std::u16string_view(*account).substr(backslash + 1);
  return FileNamePart(*computer) + u"-" + FileNamePart(domain) + u"-" + FileNamePart(user) +
         u".log";
}

std::string ReportHeading(platform::UINT status, std::u16string_view identity) {
  const std::u16string text =
      FormatText(u"zelmora-launch: status %s: %s, build %s",
                 {StatusNumber(status), StatusMeaning(status),
                  identity.empty() ? std::u16string_view(u"unknown") : identity});
  // Another program's identity may hold anything; the heading stays one line of ASCII.
  std::string heading;
  for (char16_t unit : text) {
    heading += unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?';
  }
  return heading + "\r\n";
}

void WriteReport(const std::u16string& folder, platform::UINT status, std::u16string_view identity,
                 std::string_view captured, char16_t separator) {
  const std::u16string path = ReportPath(folder, separator);
  if (path.empty()) return;
  WriteWholeFile(path, ReportHeading(status, identity) + std::string(captured));
}

void RemoveReport(const std::u16string& folder, char16_t separator) {
  const std::u16string path = ReportPath(folder, separator);
  if (!path.empty()) System().DeleteFileW(path.c_str());
}

}  // namespace zelmora::launcher
