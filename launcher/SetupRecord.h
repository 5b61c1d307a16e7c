// The record of the last complete run: HKCU\Software\Quorvane\ZelmoraSetup, string Build (the
// identity of the tool that ran, which deployment engines' detection rules read) and string
// Temp (the TEMP of that run, since the settings the tool writes are derived from it).
#pragma once

#include <optional>
#include <string>

namespace zelmora::launcher {

struct SetupRecord {
  std::u16string build;
  std::u16string temp;
  bool operator==(const SetupRecord&) const = default;
};

// The record, or none when any part of it cannot be read whole: a missing key or value, a value
// of another type or of an odd length, any error. None makes the tool run: one run too many,
// never one too few.
std::optional<SetupRecord> ReadSetupRecord();

// Writes Temp, then Build, which the detection rules read, so that a record cut short never
// names the build. False when either cannot be written.
bool WriteSetupRecord(const SetupRecord& record);

}  // namespace zelmora::launcher
