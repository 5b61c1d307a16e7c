#include "launcher/Uninstall.h"

#include "launcher/LaunchStatus.h"

namespace zelmora::launcher {
namespace {

bool DeleteTree(const char16_t* subKey) {
  const platform::LONG result =
      platform::System().RegDeleteTreeW(platform::kHkeyCurrentUser, subKey);
  return result == platform::kErrorSuccess || result == platform::kErrorFileNotFound;
}

}  // namespace

platform::UINT Uninstall() {
  if (!DeleteTree(u"Software\\Quorvane\\Zelmora")) return kUninstallFailed;
  if (!DeleteTree(u"Software\\Quorvane\\ZelmoraSetup")) return kUninstallFailed;
  return kSetUp;
}

}  // namespace zelmora::launcher
