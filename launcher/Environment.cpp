#include "launcher/Environment.h"

#include "launcher/LaunchFailure.h"
#include "platform/Platform.h"

namespace zelmora::launcher {
namespace {

using platform::DWORD;
using platform::System;

// The longest path a module can have, with its NUL.
constexpr DWORD kLongestText = 32768;

bool IsSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

}  // namespace

std::u16string OwnPath() {
  std::u16string path(kLongestText, u'\0');
  const DWORD length =
      System().GetModuleFileNameW(platform::kExecutableModule, path.data(), kLongestText);
  // A path cut short would name another folder: no path is better than that one.
  if (length == 0 || length >= kLongestText) RaiseLaunchFailure(u"GetModuleFileNameW");
  path.resize(length);
  return path;
}

std::u16string_view FolderOf(std::u16string_view path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

char16_t SeparatorOf(std::u16string_view path) {
  const std::u16string_view folder = FolderOf(path);
  return folder.empty() ? u'\\' : folder.back();
}

std::u16string InFolder(std::u16string_view folder, std::u16string_view name, char16_t separator) {
  std::u16string path(folder);
  if (!path.empty() && !IsSeparator(path.back())) path += separator;
  return path += name;
}

}  // namespace zelmora::launcher
