#include "platform/posix/StoreLocation.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/posix/PasswordEntry.h"

namespace zelmora::platform {
namespace {

// The effective user's home from the password database.
std::optional<std::string> PasswordDatabaseHome() {
  const EffectiveUserEntry user;
  const passwd* found = user.Get();
  if (found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

std::optional<std::string> HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home);
  return PasswordDatabaseHome();
}

std::string WithoutTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

std::optional<std::string> CurrentUserStorePath() {
  std::string config;
  const char* xdgConfig = std::getenv("XDG_CONFIG_HOME");
  if (xdgConfig != nullptr && xdgConfig[0] == '/') {
    config = WithoutTrailingSlashes(xdgConfig);
  } else {
    const std::optional<std::string> home = HomeFolder();
    if (!home) return std::nullopt;
    config = WithoutTrailingSlashes(*home) + "/.config";
  }
  if (config == "/") config.clear();  // keep the path free of a doubled slash
  return config + "/zelmora/registry/HKEY_CURRENT_USER.reg";
}

std::string MachineStorePath() {
  std::string folder = "/etc/xdg";
  if (const char* dirs = std::getenv("XDG_CONFIG_DIRS")) {
    // Relative entries are not meant to be there, and are skipped.
    for (std::string_view rest = dirs; !rest.empty();) {
      const std::string_view entry = rest.substr(0, rest.find(':'));
      rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
      if (!entry.empty() && entry.front() == '/') {
        folder = WithoutTrailingSlashes(std::string(entry));
        break;
      }
    }
  }
  if (folder == "/") folder.clear();
  return folder + "/zelmora/registry/HKEY_LOCAL_MACHINE.reg";
}

}  // namespace zelmora::platform
