// The launcher: its run, for the tool that the build puts beside it, and the channel, handed to
// the process entry on the build's own platform, with the launcher's own failure statuses (27
// for a report, 28 for the fallback line), which no run of the tool gives. It runs at nearly
// every logon, so it declines the translation lookup and its registry reads and file probes: its
// texts, its failure report included, are read by administrators in logs and stay English.
#include "entry/ProcessEntry.h"
#include "launcher/LaunchStatus.h"
#include "launcher/LauncherRun.h"
#include "platform/NativePlatform.h"
#include "registry/StdOutChannel.h"

namespace {

zelmora::platform::UINT RunLauncher() {
  return zelmora::launcher::RunLauncher(u"" ZELMORA_TOOL_FILE_NAME);
}

}  // namespace

int main(int argc, char** argv) {
  zelmora::platform::SetNativeArguments(argc, argv);
  zelmora::platform::SetSystem(zelmora::platform::NativePlatform());
  static const zelmora::Installation kLauncher{
      &RunLauncher,
      &zelmora::StdOut(),
      {zelmora::launcher::kOwnFailure, zelmora::launcher::kStartUpFailure},
      false};
  zelmora::ProcessEntry(kLauncher);
}
