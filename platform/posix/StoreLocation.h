// Where the POSIX back-end keeps the current user's hive.
#pragma once

#include <optional>
#include <string>

namespace zelmora::platform {

// $XDG_CONFIG_HOME/zelmora/registry/HKEY_CURRENT_USER.reg, with $HOME/.config in place of
// $XDG_CONFIG_HOME when that is unset, empty or not absolute, and the password database's home
// directory of the effective user in place of $HOME when that is unset or empty. Nothing when no
// home directory can be found.
std::optional<std::string> CurrentUserStorePath();

// The machine's hive, read only: zelmora/registry/HKEY_LOCAL_MACHINE.reg in the first absolute
// folder that $XDG_CONFIG_DIRS lists (a colon-separated list), /etc/xdg when it lists none.
std::string MachineStorePath();

}  // namespace zelmora::platform
