// The tool's whole job: write the client's per-user settings and print the outcome.
#pragma once

namespace zelmora {

// Writes the settings layout into HKEY_CURRENT_USER in three stages and prints
// "Zelmora Installed" or "Installation Error" (after "Error in accessing the registry" when the
// first stage fails). Failures of the registry work are caught here and only mark the run as
// failed; what leaves is a failure to create the registry object or to print the last line.
void RunInstallation();

}  // namespace zelmora
