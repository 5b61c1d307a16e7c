#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "platform/common/RegFileFormat.h"
#include "platform/common/Utf.h"
#include "tests/support/RunFixture.h"
#include "tests/support/ToolRun.h"

namespace zelmora::testing {
namespace {

namespace fs = std::filesystem;

// The return addresses of every call to the named function in the program, as offsets into its
// loaded image, read from the disassembly. A function that ends by jumping to it (a tail call)
// returns straight to its own callers, so their calls count too.
std::set<std::uintptr_t> OffsetsAfterCallsTo(const std::string& program, const std::string& name) {
  auto lines = [&](const std::string& options) {
    std::vector<std::string> result;
    FILE* pipe = popen(("objdump " + options + " '" + program + "'").c_str(), "r");
    if (pipe == nullptr) return result;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) result.emplace_back(line);
    pclose(pipe);
    return result;
  };
  // Offsets count from the first loaded segment.
  std::uintptr_t imageStart = 0;
  const std::regex load(R"(^\s*LOAD\s+off\s+0x[0-9a-f]+\s+vaddr\s+0x([0-9a-f]+).*\n?$)");
  for (const std::string& line : lines("-p")) {
    std::smatch match;
    if (std::regex_match(line, match, load)) {
      imageStart = std::stoull(match[1].str(), nullptr, 16);
      break;
    }
  }
  struct Instruction {
    std::uintptr_t address;
    std::string function;  // as the disassembly names it, between angle brackets
    std::string mnemonic;
    std::string target;  // the named operand, if any
  };
  std::vector<Instruction> code;
  const std::regex start(R"(^[0-9a-f]+ (<.*>):\n?$)");
  const std::regex instruction(R"(^\s*([0-9a-f]+):\s+(\S+)(.*)\n?$)");
  const std::regex direct(R"(^\s*[0-9a-f]+ (<.*>)$)");  // the operand of a direct call or jump
  std::string function;
  for (const std::string& line : lines("-d -C --no-show-raw-insn")) {
    std::smatch match;
    if (std::regex_match(line, match, start)) {
      function = match[1].str();
    } else if (std::regex_match(line, match, instruction)) {
      const std::string operand = match[3].str();
      std::smatch named;
      code.push_back({std::stoull(match[1].str(), nullptr, 16), function, match[2].str(),
                      std::regex_match(operand, named, direct) ? named[1].str() : ""});
    }
  }
  std::set<std::string> targets{"<zelmora::" + name + "()>"};
  for (const Instruction& i : code) {
    if (i.mnemonic.starts_with("jmp") && targets.count(i.target) != 0) targets.insert(i.function);
  }
  std::set<std::uintptr_t> offsets;
  for (std::size_t k = 0; k + 1 < code.size(); ++k) {
    if (code[k].mnemonic.starts_with("call") && targets.count(code[k].target) != 0) {
      offsets.insert(code[k + 1].address - imageStart);
    }
  }
  return offsets;
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

  ToolOptions Options(StdOutKind kind, const std::optional<std::string>& temp) const {
    ToolOptions options;
    options.home = home_;
    options.configHome = home_ / "config";
    options.temp = temp;
    options.stdOut = kind;
    options.outFile = home_ / "stdout.txt";
    return options;
  }
  ToolResult Run(StdOutKind kind, const std::optional<std::string>& temp) {
    return RunTool(Options(kind, temp));
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
  const std::set<std::uintptr_t> afterCheck = OffsetsAfterCallsTo(ZELMORA_TOOL, "CheckIoResult");
  ASSERT_FALSE(afterCheck.empty());
  struct Case {
    StdOutKind out;
    StdErrKind err;
    std::string message;  // empty: standard error cannot take the report, which is lost
  };
  for (const Case& c : {Case{StdOutKind::Closed, StdErrKind::Pipe, "I/O error 105."},
                        Case{StdOutKind::DevFull, StdErrKind::Pipe, "I/O error 112."},
                        Case{StdOutKind::DevFull, StdErrKind::Closed, ""},
                        Case{StdOutKind::DevFull, StdErrKind::DevFull, ""},
                        Case{StdOutKind::DevFull, StdErrKind::ReaderGone, ""}}) {
    SCOPED_TRACE(::testing::Message() << "standard error " << static_cast<int>(c.err));
    fs::remove_all(home_ / "config");
    ToolOptions options = Options(c.out, "/tmp");
    options.stdErr = c.err;
    const ToolResult result = RunningTool(options).Wait(std::chrono::seconds(20));
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 1);
    if (c.message.empty()) {
      EXPECT_EQ(result.err, "");
    } else {
      const std::regex report(
          "Exception EInOutError in module zelmora-setup at ([0-9A-F]{16})\\.\r\n" +
          std::regex_replace(c.message, std::regex("\\."), "\\.") + "\r\n\r\n");
      std::smatch match;
      ASSERT_TRUE(std::regex_match(result.err, match, report)) << result.err;
      // The offset printed is the point in the program right after the check that failed.
      EXPECT_EQ(afterCheck.count(std::stoull(match[1].str(), nullptr, 16)), 1u) << match[1];
    }
    ExpectCompleteLayout("/tmp");  // every value was written before the line failed
  }
}

TEST_F(ToolProcess, TheHebrewTranslationBesideTheToolIsChosenByLanguageOrSetting) {
  const std::regex hebrew(
      "חריגה EInOutError במודול zelmora-setup בכתובת [0-9A-F]{16}\\.\r\n"
      "שגיאת קלט/פלט 112\\.\r\n\r\n");
  const std::u16string tool = platform::Utf8ToUtf16(fs::canonical(ZELMORA_TOOL).string());
  struct Case {
    std::optional<std::u16string> user, machine;  // the tool's Locales values
    std::vector<std::string> environment;         // LANG=C, LC_ALL and LC_MESSAGES empty unless set
    bool translated;
    std::string machineStore = "file";  // or a link to it, or a damaged one
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, {"LANG=he_IL.UTF-8"}, true},  // no he-IL file: the he one
      {std::nullopt, std::nullopt, {"LC_MESSAGES=he_IL", "LANG=en_US.UTF-8"}, true},
      {std::nullopt, std::nullopt, {"LC_ALL=C.UTF-8", "LANG=he_IL.UTF-8"}, false},
      {std::nullopt, u"he", {"LANG=POSIX"}, true},
      {u"", u"he", {"LANG=he_IL.UTF-8"}, false},
      {std::nullopt, u"he", {"LANG=POSIX"}, true, "link"},
      {std::nullopt, std::nullopt, {"LANG=he_IL.UTF-8"}, true, "damaged"},  // holds no setting
  };
  for (const Case& c : cases) {
    fs::remove_all(home_ / "config");
    fs::remove_all(home_ / "xdg-dirs");
    const fs::path machine = home_ / "xdg-dirs/zelmora/registry/HKEY_LOCAL_MACHINE.reg";
    const fs::path linked = home_ / "xdg-dirs/managed/HKEY_LOCAL_MACHINE.reg";
    const std::pair<fs::path, const std::optional<std::u16string>&> stores[] = {
        {StorePath(), c.user}, {c.machineStore == "link" ? linked : machine, c.machine}};
    for (const auto& [path, value] : stores) {
      if (!value) continue;
      platform::RegistryTree tree;
      SettingsKey(tree, u"Locales").SetValue(tool, platform::kRegSz, Sz(*value));
      fs::create_directories(path.parent_path());
      const auto root = path.stem().u16string();
      const std::vector<std::uint8_t> bytes = platform::FormatRegFile(tree, root);
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
    fs::create_directories(machine.parent_path());
    if (c.machineStore == "link") fs::create_symlink(linked, machine);
    if (c.machineStore == "damaged") std::ofstream(machine) << "\xFF\xFE[HKEY_LOCAL_MACHINE";
    ToolOptions options;
    options.home = home_;
    options.configHome = home_ / "config";
    options.temp = "/tmp";
    options.stdOut = StdOutKind::DevFull;
    options.environment = c.environment;
    const ToolResult result = RunTool(options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(std::regex_match(result.err, hebrew), c.translated) << result.err;
    EXPECT_EQ(result.err.starts_with("Exception EInOutError"), !c.translated) << result.err;
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
        std::string("\xD7\x90\xD7\x91 =;@"), std::string(1023, 't'), std::string(1024, 't'),
        std::string(5000, 't')}) {
    fs::remove_all(home_ / "config");
    const ToolResult result = Run(StdOutKind::Pipe, temp);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kInstalled);
    ExpectCompleteLayout(temp);
  }
}

TEST_F(ToolProcess, InvalidUtf8InTempBecomesReplacementCharacters) {
  // One U+FFFD per maximal ill-formed subpart: a cut-short sequence is one, whatever follows.
  const ToolResult result = Run(StdOutKind::Pipe, std::string("T\xFF\xC3(\xED\xA0\x80!\xE2\x82"
                                                              "A\xF0\x9F\x8C"));
  EXPECT_EQ(result.status, 0);
  ExpectCompleteLayout(platform::Utf16ToUtf8(u"T\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD!\uFFFDA\uFFFD"));
}

}  // namespace
}  // namespace zelmora::testing
