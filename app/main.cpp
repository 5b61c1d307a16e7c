// The program: the installation run and its channel, handed to the process entry on the
// build's own platform.
#include "entry/ProcessEntry.h"
#include "installer/InstallationRun.h"
#include "installer/StdOutChannel.h"
#include "platform/NativePlatform.h"

int main() {
  zelmora::platform::SetSystem(zelmora::platform::NativePlatform());
  static const zelmora::Installation kInstallation{&zelmora::RunInstallation, &zelmora::StdOut()};
  zelmora::ProcessEntry(kInstallation);
}
