#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/common/Utf.h"
#include "tests/support/RunFixture.h"
#include "tests/support/ToolRun.h"

namespace zelmora::testing {
namespace {

namespace fs = std::filesystem;

class ToolProcess : public ::testing::Test {
 protected:
  ToolProcess() {
    char pattern[] = "/tmp/zelmora-process-XXXXXX";
    home_ = mkdtemp(pattern);
  }
  ~ToolProcess() override { fs::remove_all(home_); }

  fs::path StorePath() const {
    return home_ / "config" / "zelmora" / "registry" / "HKEY_CURRENT_USER.reg";
  }

  ToolResult Run(StdOutKind kind, const std::optional<std::string>& temp) {
    ToolOptions options;
    options.home = home_;
    options.configHome = home_ / "config";
    options.temp = temp;
    options.stdOut = kind;
    options.outFile = home_ / "stdout.txt";
    return RunTool(options);
  }

  // The store holds exactly the layout of a complete run for an ordinary account.
  void ExpectCompleteLayout(const std::string& temp) {
    testing::ExpectCompleteLayout(StorePath(), temp);
  }

  fs::path home_;
};

TEST_F(ToolProcess, ACompleteRunPrintsTheSuccessLineAndEndsWithZero) {
  const ToolResult result = Run(StdOutKind::Pipe, "/tmp/zelmora temp");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kInstalled);
  EXPECT_EQ(result.err, "");
  ExpectCompleteLayout("/tmp/zelmora temp");
  // Private to the user: folder and file.
  EXPECT_EQ(fs::status(StorePath()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(StorePath().parent_path()).permissions(), fs::perms::owner_all);
}

TEST_F(ToolProcess, AStoreThatCannotBeReadGivesInstallationErrorWithZeroAndStaysAsItWas) {
  fs::create_directories(StorePath().parent_path());
  const std::string corrupt = "not a registry file\n";
  std::ofstream(StorePath(), std::ios::binary) << corrupt;
  const ToolResult result = Run(StdOutKind::Pipe, std::nullopt);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Installation Error\r\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadFile(StorePath()), corrupt);
}

TEST_F(ToolProcess, UnusableOrFullStandardOutputIsReportedWithStatusOne) {
  struct Case {
    StdOutKind kind;
    std::string message;
  };
  for (const Case& c :
       {Case{StdOutKind::Closed, "I/O error 105."}, Case{StdOutKind::DevFull, "I/O error 112."}}) {
    fs::remove_all(home_ / "config");
    const ToolResult result = Run(c.kind, "/tmp");
    EXPECT_EQ(result.status, 1);
    const std::regex report("Exception EInOutError in module zelmora-setup at [0-9A-F]{16}\\.\r\n" +
                            std::regex_replace(c.message, std::regex("\\."), "\\.") + "\r\n\r\n");
    EXPECT_TRUE(std::regex_match(result.err, report)) << result.err;
    ExpectCompleteLayout("/tmp");  // every value was written before the line failed
  }
}

TEST_F(ToolProcess, OutputToAFileArrivesAtShutDownAndAGoneReaderIsNoFailure) {
  ToolResult result = Run(StdOutKind::File, "/tmp");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kInstalled);
  result = Run(StdOutKind::ReaderGone, "/tmp");
  EXPECT_EQ(result.status, 0);  // the line is lost at shut-down, where nothing checks any more
  EXPECT_EQ(result.err, "");
}

TEST_F(ToolProcess, TempValuesReachTheStoreUnchangedWithoutInjectingSettings) {
  for (const std::string& temp :
       {std::string("C:\\Temp\\"),
        std::string("a\"b\\c]\r\n[HKEY_CURRENT_USER\\Evil]\r\n\"x\"=\"y\""),
        std::string("\xD7\x90\xD7\x91 =;@"), std::string(5000, 't')}) {
    fs::remove_all(home_ / "config");
    const ToolResult result = Run(StdOutKind::Pipe, temp);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kInstalled);
    ExpectCompleteLayout(temp);
  }
}

TEST_F(ToolProcess, InvalidUtf8InTempBecomesReplacementCharacters) {
  const ToolResult result = Run(StdOutKind::Pipe, std::string("T\xFF\xC3(\xED\xA0\x80!"));
  EXPECT_EQ(result.status, 0);
  ExpectCompleteLayout(platform::Utf16ToUtf8(u"T\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD!"));
}

}  // namespace
}  // namespace zelmora::testing
