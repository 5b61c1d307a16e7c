#include "platform/posix/StoreLocation.h"

#include <cstdlib>

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

}  // namespace zelmora::platform
