#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "platform/common/RegFileFormat.h"
#include "platform/common/Utf.h"
#include "tests/installer/RunFixture.h"

namespace zelmora::testing {
namespace {

namespace fs = std::filesystem;

enum class StdOutKind { Pipe, File, Closed, DevFull, ReaderGone };

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t count;
  while ((count = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, count);
  return text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

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

  Result Run(StdOutKind kind, const std::optional<std::string>& temp) {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    const fs::path outFile = home_ / "stdout.txt";
    const pid_t child = fork();
    if (child == 0) {
      setenv("HOME", home_.c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
      if (temp) {
        setenv("TEMP", temp->c_str(), 1);
      } else {
        unsetenv("TEMP");
      }
      dup2(errPipe[1], STDERR_FILENO);
      switch (kind) {
        case StdOutKind::Pipe:
          dup2(outPipe[1], STDOUT_FILENO);
          break;
        case StdOutKind::File:
          dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
          break;
        case StdOutKind::Closed:
          close(STDOUT_FILENO);
          break;
        case StdOutKind::DevFull:
          dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
          break;
        case StdOutKind::ReaderGone:
          dup2(outPipe[1], STDOUT_FILENO);
          close(outPipe[0]);
          break;
      }
      close(outPipe[1]);
      close(errPipe[0]);
      close(errPipe[1]);
      execl(ZELMORA_TOOL, ZELMORA_TOOL, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (kind == StdOutKind::ReaderGone) close(outPipe[0]);
    Result result;
    result.err = ReadAll(errPipe[0]);
    if (kind != StdOutKind::ReaderGone) result.out = ReadAll(outPipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    if (kind != StdOutKind::ReaderGone) close(outPipe[0]);
    close(errPipe[0]);
    if (kind == StdOutKind::File) result.out = ReadFile(outFile);
    return result;
  }

  // The store holds exactly the layout of a complete run for an ordinary account.
  void ExpectCompleteLayout(const std::string& temp) {
    const std::string bytes = ReadFile(StorePath());
    const auto tree = platform::ParseRegFile(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                             u"HKEY_CURRENT_USER");
    ASSERT_TRUE(tree.has_value());
    EXPECT_EQ(Contents(*tree), Apply(ExpectedWrites(platform::Utf8ToUtf16(temp), false)));
  }

  fs::path home_;
};

const std::string kInstalled = "Zelmora Installed\r\n";

TEST_F(ToolProcess, ACompleteRunPrintsTheSuccessLineAndEndsWithZero) {
  const Result result = Run(StdOutKind::Pipe, "/tmp/zelmora temp");
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
  const Result result = Run(StdOutKind::Pipe, std::nullopt);
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
    const Result result = Run(c.kind, "/tmp");
    EXPECT_EQ(result.status, 1);
    const std::regex report("Exception EInOutError in module zelmora-setup at [0-9A-F]{16}\\.\r\n" +
                            std::regex_replace(c.message, std::regex("\\."), "\\.") + "\r\n\r\n");
    EXPECT_TRUE(std::regex_match(result.err, report)) << result.err;
    ExpectCompleteLayout("/tmp");  // every value was written before the line failed
  }
}

TEST_F(ToolProcess, OutputToAFileArrivesAtShutDownAndAGoneReaderIsNoFailure) {
  Result result = Run(StdOutKind::File, "/tmp");
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
    const Result result = Run(StdOutKind::Pipe, temp);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kInstalled);
    ExpectCompleteLayout(temp);
  }
}

TEST_F(ToolProcess, InvalidUtf8InTempBecomesReplacementCharacters) {
  const Result result = Run(StdOutKind::Pipe, std::string("T\xFF\xC3(\xED\xA0\x80!"));
  EXPECT_EQ(result.status, 0);
  ExpectCompleteLayout(platform::Utf16ToUtf8(u"T\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD!"));
}

}  // namespace
}  // namespace zelmora::testing
