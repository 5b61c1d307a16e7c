// The tool: the installation run and its channel, handed to the process entry on the build's own
// platform, with the tool's failure statuses (1 for a report, 217 for the fallback line).
#include "entry/ProcessEntry.h"
#include "installer/InstallationRun.h"
#include "platform/NativePlatform.h"
#include "registry/StdOutChannel.h"

namespace {

// A run that ends at all ends with status 0: its outcome is the line it printed.
zelmora::platform::UINT RunTool() {
  zelmora::RunInstallation();
  return 0;
}

}  // namespace

int main() {
  zelmora::platform::SetSystem(zelmora::platform::NativePlatform());
  static const zelmora::Installation kInstallation{&RunTool, &zelmora::StdOut(), {1, 217}};
  zelmora::ProcessEntry(kInstallation);
}
