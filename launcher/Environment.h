// The launcher's own path, and the paths it makes beside it.
#pragma once

#include <string>
#include <string_view>

namespace zelmora::launcher {

// The launcher's own path, whole, however long.
std::u16string OwnPath();

// path up to and with its last backslash or slash: the folder it names a file in.
std::u16string_view FolderOf(std::u16string_view path);

// name in folder, with separator between them unless folder ends with one already (backslash
// or slash): the launcher's own path tells which separator the system writes.
std::u16string InFolder(std::u16string_view folder, std::u16string_view name, char16_t separator);

// The last separator of path, or a backslash when it has none.
char16_t SeparatorOf(std::u16string_view path);

}  // namespace zelmora::launcher
