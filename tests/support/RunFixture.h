// What the installation tests share: a scripted platform in place of the real one, and the
// settings the run is expected to leave, read from the literal layout table
// (settings-layout.txt) that the Wine suite holds the Windows build against too.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "entry/ProcessEntry.h"
#include "platform/scripted/ScriptedPlatform.h"

namespace zelmora::testing {

using platform::Call;
using platform::ScriptedPlatform;

// One stored value as the registry holds it.
struct StoredValue {
  std::u16string key;  // path below HKEY_CURRENT_USER
  std::u16string name;
  platform::DWORD type;
  std::vector<std::uint8_t> data;
  bool operator==(const StoredValue&) const = default;
};
void PrintTo(const StoredValue& value, std::ostream* os);

// The run's result outputs, as the bytes standard output receives.
inline const std::string kInstalled = "Zelmora Installed\r\n";
inline const std::string kInstallationError = "Installation Error\r\n";
inline const std::string kRegistryError = "Error in accessing the registry\r\n";

std::vector<std::uint8_t> Sz(std::u16string_view text);
std::vector<std::uint8_t> Dword(std::int32_t value);

// The key Software\Quorvane\Zelmora\<name> of the hive, created with its parents when missing.
platform::RegistryKey& SettingsKey(platform::RegistryTree& tree, std::u16string_view name);

// Every value of the hive, keys in tree order, values in stored order.
std::vector<StoredValue> Contents(const platform::RegistryTree& tree);
// Every key path of the hive, in tree order.
std::vector<std::u16string> KeyPaths(const platform::RegistryTree& tree);

// One write of the documented layout.
struct LayoutWrite {
  int stage;
  StoredValue value;
};
// The layout table's writes in the order the run makes them, for a TEMP text and an account
// kind.
std::vector<LayoutWrite> ExpectedWrites(const std::u16string& temp, bool designated);

// Applies writes in order as the registry would (a repeated name replaces in place).
std::vector<StoredValue> Apply(const std::vector<LayoutWrite>& writes);

// The installation as the program hands it to the process entry, and its run.
const Installation& ToolInstallation();
platform::UINT RunToolInstallation();

// A scripted platform in use, with standard output set up fresh.
class RunFixture : public ::testing::Test {
 protected:
  RunFixture();
  ~RunFixture() override;
  // Runs the installation and closes the channel as shut-down does; returns the code of an
  // EInOutError that left the run, or 0.
  std::int32_t Run();
  std::string Out() const { return platform.out.bytes; }

  ScriptedPlatform platform;

 private:
  platform::ScopedSystem system_{platform};
};

}  // namespace zelmora::testing
