// The launcher from the build as a real process, running the real tool beside it: the first run
// sets up and records, the second is skipped.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/common/Utf.h"
#include "tests/support/RunFixture.h"
#include "tests/support/ToolRun.h"

namespace zelmora::testing {
namespace {

namespace fs = std::filesystem;

TEST(LauncherProcess, SetsUpOnceThenSkipsTheTool) {
  const fs::path home = fs::path(::testing::TempDir()) / "launcher-process";
  fs::remove_all(home);
  fs::create_directories(home / "temp");
  const std::string temp = (home / "temp").string();
  ToolOptions options;
  options.home = home;
  options.configHome = home / "config";
  options.temp = temp;
  options.program = ZELMORA_LAUNCHER;
  const fs::path store = home / "config" / "zelmora" / "registry" / "HKEY_CURRENT_USER.reg";
  const fs::path log = home / "temp" / "zelmora-setup.log";
  const std::string identity = platform::Utf16ToUtf8(ZELMORA_BUILD_IDENTITY_TEXT);
  const std::u16string key = u"Software\\Quorvane\\ZelmoraSetup";

  const ToolResult first = RunTool(options);
  EXPECT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.out, "Zelmora set-up: done by build " + identity + "\r\n");
  EXPECT_EQ(ReadFile(log), "Zelmora Installed\r\n");
  ExpectCompleteLayout(store, temp, key);
  // The record, Temp first and then Build, which a detection rule reads.
  std::vector<StoredValue> record = Contents(ReadStore(store).value_or(platform::RegistryTree()));
  std::erase_if(record, [&](const StoredValue& value) { return value.key != key; });
  EXPECT_EQ(record, (std::vector<StoredValue>{
                        {key, u"Temp", platform::kRegSz, Sz(platform::Utf8ToUtf16(temp))},
                        {key, u"Build", platform::kRegSz, Sz(ZELMORA_BUILD_IDENTITY_TEXT)}}));

  // The log of the first run is what the second would overwrite if it ran the tool.
  fs::remove(log);
  const ToolResult second = RunTool(options);
  EXPECT_EQ(second.status, 0) << second.out << second.err;
  EXPECT_EQ(second.out, "Zelmora set-up: already done by build " + identity +
                            " for this TEMP; nothing run\r\n");
  EXPECT_FALSE(fs::exists(log));
  fs::remove_all(home);
}

}  // namespace
}  // namespace zelmora::testing
