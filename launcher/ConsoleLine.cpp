#include "launcher/ConsoleLine.h"

#include "launcher/LaunchStatus.h"
#include "registry/StdOutChannel.h"

namespace zelmora::launcher {
namespace {

using platform::System;

// The first line of the tool's output, at most 100 characters, as a console shows it: what a
// failure says ("Installation Error", a report's first line).
std::u16string FirstLine(std::string_view captured) {
  std::u16string line;
  for (char byte : captured) {
    if (byte == '\r' || byte == '\n' || line.size() == 100) break;
    const auto unit = static_cast<unsigned char>(byte);
    line += unit >= 0x20 && unit < 0x7F ? static_cast<char16_t>(unit) : u'?';
  }
  return line;
}

// Another program's identity may hold anything; the line stays one line.
std::u16string Shown(std::u16string_view identity) {
  if (identity.empty()) return u"unknown";
  std::u16string shown(identity);
  for (char16_t& unit : shown) {
    if (unit < 0x20 || unit == 0x7F) unit = u'?';
  }
  return shown;
}

}  // namespace

std::u16string RunLine(const RunSummary& summary) {
  if (summary.skipped) {
    return u"Zelmora set-up: already done by build " + Shown(summary.identity) +
           u" for this TEMP; nothing run";
  }
  if (summary.status == kSetUp) return u"Zelmora set-up: done by build " + Shown(summary.identity);
  std::u16string line = u"Zelmora set-up failed (" + StatusNumber(summary.status) + u"): " +
                        std::u16string(StatusMeaning(summary.status));
  const std::u16string said = FirstLine(summary.captured);
  if (!said.empty()) line += u" (\"" + said + u"\")";
  return line;
}

std::u16string UninstallLine(platform::UINT status) {
  if (status == kSetUp) return u"Zelmora set-up: uninstalled for this user";
  return u"Zelmora set-up failed (" + StatusNumber(status) + u"): " +
         std::u16string(StatusMeaning(status));
}

void PrintLine(std::u16string_view line) {
  StdOut().WriteLine(line);
  StdOut().Flush();
  StdOut().TakePendingIoCode();
}

void PrintErrorLine(std::u16string_view line) {
  // In the code page of the failure report, which standard error carries too.
  const std::u16string text = std::u16string(line) + u"\r\n";
  const int length = static_cast<int>(text.size());
  const int needed = System().WideCharToMultiByte(platform::kCodePageOem, 0, text.data(), length,
                                                  nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return;
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  const int converted = System().WideCharToMultiByte(platform::kCodePageOem, 0, text.data(), length,
                                                     bytes.data(), needed, nullptr, nullptr);
  if (converted <= 0) return;
  platform::DWORD written = 0;
  System().WriteFile(System().GetStdHandle(platform::kStdErrorHandle), bytes.data(),
                     static_cast<platform::DWORD>(converted), &written, nullptr);
}

}  // namespace zelmora::launcher
