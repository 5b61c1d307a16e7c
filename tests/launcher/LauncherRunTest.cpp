// The launcher's run on the scripted platform, as a whole process: what it starts, the status,
// the record, the log, the report and the line, for each record, tool, outcome and failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#include "entry/ProcessEntry.h"
#include "launcher/LaunchOptions.h"
#include "launcher/LauncherRun.h"
#include "platform/common/CommandLine.h"
#include "platform/common/Utf.h"
#include "platform/common/VersionInfo.h"
#include "registry/StdOutChannel.h"
#include "tests/support/RunFixture.h"
#include "tests/support/ToolRun.h"

namespace zelmora::testing {
namespace {

using platform::Call;
using platform::UINT;
using Record = std::optional<std::pair<std::u16string, std::u16string>>;  // Build, Temp

// A launcher on a share, as the guide deploys it, and a session's own TEMP.
const std::u16string kFolder = u"\\\\fs01\\deploy$\\zelmora\\";
const std::u16string kTool = kFolder + u"zelmora-setup.exe";
const std::u16string kTemp = u"C:\\Users\\jdoe\\AppData\\Local\\Temp\\2";
const std::u16string kLog = kTemp + u"\\zelmora-setup.log";
const std::u16string kReports = u"\\\\fs01\\reports$";
const std::u16string kReport = kReports + u"\\WS-0142-CORP-jdoe.log";
const std::u16string kIdentity = ZELMORA_BUILD_IDENTITY_TEXT;
const std::string kIdentityBytes = platform::Utf16ToUtf8(kIdentity);
const std::string kEarlier = "an earlier report";
const Record kRan = std::pair(kIdentity + u'\0', kTemp + u'\0');

// The version block of the tool this build made: what the launcher reads from the real file.
const std::string kFile = ReadFile(ZELMORA_TOOL);
const auto kBlock =
    platform::FindVersionBlock({reinterpret_cast<const std::uint8_t*>(kFile.data()), kFile.size()});

UINT RunLauncher() { return launcher::RunLauncher(u"zelmora-setup.exe"); }
const Installation kLauncher{&RunLauncher, &StdOut(), {27, 28}};

// A launcher's world: the launcher on a share beside the tool of this build, which completes.
class World {
 public:
  World() {
    platform.modulePath = kFolder + u"zelmora-launch.exe";
    platform.environment[u"TEMP"] = kTemp;
    platform.commandLine = u"\"" + platform.modulePath + u"\" /reports " + kReports;
    Tool(0, "Zelmora Installed\r\n");
  }
  platform::ScriptedProgram& Tool(platform::DWORD status, std::string output) {
    platform::ScriptedProgram& tool = platform.programs[kTool];
    tool.versionBlock = std::string(reinterpret_cast<const char*>(kBlock.data()), kBlock.size());
    tool.exitStatus = status;
    tool.output = std::move(output);
    return tool;
  }
  UINT Run() {
    platform::ScopedSystem system(platform);
    ExitStatus = 0;
    try {
      ProcessEntry(kLauncher);
    } catch (const platform::ProcessExit& exit) {
      return exit.status;
    }
    ADD_FAILURE() << "the process did not end";
    return 0;
  }
  void SetRecord(std::u16string_view build, std::u16string_view temp,
                 platform::DWORD buildType = platform::kRegSz) {
    platform::RegistryKey* key = &platform.Registry().Root();
    for (const char16_t* name : {u"Software", u"Quorvane", u"ZelmoraSetup"})
      key = &key->SubkeyCreatingMissing(name, nullptr);
    key->SetValue(u"Temp", platform::kRegSz, Sz(temp));
    key->SetValue(u"Build", buildType, Sz(build));
  }
  // The record as the hive holds it: both strings, or none.
  Record Stored() {
    const auto* key = platform.Registry().FindKey(u"Software\\Quorvane\\ZelmoraSetup");
    const auto* build = key != nullptr ? key->FindValue(u"Build") : nullptr;
    const auto* temp = key != nullptr ? key->FindValue(u"Temp") : nullptr;
    if (build == nullptr || temp == nullptr || build->type != platform::kRegSz ||
        temp->type != platform::kRegSz) {
      return std::nullopt;
    }
    return std::pair(platform::Utf16LeText(build->data), platform::Utf16LeText(temp->data));
  }
  std::optional<std::string> File(const std::u16string& path) const {
    const auto file = platform.files.find(path);
    return file == platform.files.end() ? std::nullopt : std::optional(file->second);
  }

  platform::ScriptedPlatform platform;
};

TEST(Launcher, RunsTheToolUnlessTheRecordNamesItsBuildAndThisTemp) {
  const struct {
    const char* what;
    std::function<void(World&)> write;
    bool same = false;
  } records[] = {
      {"no record", [](World&) {}},
      {"another build", [](World& t) { t.SetRecord(u"1.0.0-QVZELFS01-00000000", kTemp); }},
      {"another TEMP", [](World& t) { t.SetRecord(kIdentity, kTemp + u"\\1"); }},
      {"a Build of another type",
       [](World& t) { t.SetRecord(kIdentity, kTemp, platform::kRegExpandSz); }},
      {"this build and TEMP", [](World& t) { t.SetRecord(kIdentity, kTemp); }, true},
  };
  const struct {
    std::function<void(World&)> place;
    UINT status;          // when it is not skipped; 0: the tool runs
    std::string meaning;  // of the line and the report, when it does not run
  } tools[] = {
      {[](World& t) { t.platform.programs.clear(); }, 22, "the tool is not beside the launcher"},
      {[](World& t) { t.platform.programs[kTool].versionBlock.reset(); }, 23,
       "the tool is there but could not be started"},
      {[](World&) {}, 0, ""},
  };
  for (const auto& record : records) {
    for (const auto& tool : tools) {
      SCOPED_TRACE(std::string(record.what) + ", status " + std::to_string(tool.status));
      World t;
      record.write(t);
      tool.place(t);
      t.platform.files[kReport] = kEarlier;
      const Record before = t.Stored();
      const bool runs = tool.status == 0, skipped = runs && record.same;
      const std::string code = std::to_string(tool.status);
      EXPECT_EQ(t.Run(), tool.status);
      EXPECT_EQ(t.platform.starts.size(), runs && !skipped ? 1u : 0u);
      for (const auto& start : t.platform.starts)
        EXPECT_EQ(start.commandLine, u"\"" + kTool + u"\"");
      EXPECT_EQ(t.Stored(), runs ? kRan : before);
      EXPECT_EQ(t.platform.out.bytes,
                skipped ? "Zelmora set-up: already done by build " + kIdentityBytes +
                              " for this TEMP; nothing run\r\n"
                : runs ? "Zelmora set-up: done by build " + kIdentityBytes + "\r\n"
                       : "Zelmora set-up failed (" + code + "): " + tool.meaning + "\r\n");
      // A skip leaves the report as it is: only a run tells whether the user is set up.
      EXPECT_EQ(t.File(kReport), skipped ? kEarlier
                                 : runs  ? std::optional<std::string>()
                                         : "zelmora-launch: status " + code + ": " + tool.meaning +
                                              ", build unknown\r\n");
      EXPECT_EQ(t.platform.OpenFileHandles() + t.platform.OpenProcessHandles(), 0u);
    }
  }
}

TEST(Launcher, DecidesFromTheToolsOutputAndStatusAndKeepsTheLogAndTheReport) {
  const std::string installed = "Zelmora Installed\r\n";
  enum class Ends { ByItself, WhenEnded, Never };  // the last two when it runs past the limit
  struct Outcome {
    std::string output;
    platform::DWORD toolStatus;
    UINT status;  // with the record written
    Ends ends = Ends::ByItself;
  };
  std::vector<Outcome> outputs = {
      {installed, 0, 0},
      {"Installation Error\r\n", 0, 20},
      {"Zelmora Installed\n", 0, 20},
      {installed + installed, 0, 20},
      {installed + "Exception EInOutError in module zelmora-setup.exe at 1.\r\n", 1, 1},
      {"Runtime error 217 at 0000000000000000\r\n", 217, 217},
      {installed, 3010, 20},
      {installed, 1641, 20},
      {installed, 0, 26, Ends::WhenEnded},
      // Its output can be read only once it has ended: while it may run, reading could hang.
      {installed, 0, 26, Ends::Never},
  };
  for (const platform::DWORD code : {0u, 1618u, 1707u, 20u, 28u}) outputs.push_back({"", code, 20});
  for (const platform::DWORD code : {19u, 29u, 0xC0000005u}) outputs.push_back({"", code, code});
  enum class Reports { Written, Missing, Unwritable };
  for (const auto& output : outputs) {
    for (const bool refused : {false, true}) {
      for (const Reports reports : {Reports::Written, Reports::Missing, Reports::Unwritable}) {
        SCOPED_TRACE(output.output + " status " + std::to_string(output.toolStatus) +
                     (refused ? ", record refused" : "") + ", reports " +
                     std::to_string(static_cast<int>(reports)));
        World t;
        t.Tool(output.toolStatus, output.output).neverEnds = output.ends != Ends::ByItself;
        if (output.ends == Ends::Never) t.platform.FailCall(Call::TerminateProcess, 1, 5);
        if (refused) t.platform.FailCall(Call::RegSetValueExW, 1, platform::kErrorAccessDenied);
        if (reports != Reports::Missing) t.platform.files[kReport] = kEarlier;
        if (reports != Reports::Written) {
          t.platform.folders[kReports] = {reports == Reports::Unwritable, false, false};
        }
        const bool unrecorded = refused && output.status == 0;
        const UINT status = unrecorded ? 21 : output.status;
        EXPECT_EQ(t.Run(), status);
        EXPECT_EQ(t.Stored(), output.status == 0 && !refused ? kRan : std::nullopt);
        const std::string kept = output.ends == Ends::Never ? "" : output.output;
        EXPECT_EQ(t.File(kLog), kept);
        const std::string meaning =
            unrecorded ? "set up, but the record could not be written (the next run sets up again)"
            : status == 20 ? "the tool did not complete"
            : status == 26 ? "the tool did not end within 10 minutes and was ended"
                           : "the tool's own status";
        const std::optional<std::string> report =
            reports == Reports::Missing   ? std::optional<std::string>()
            : reports != Reports::Written ? std::optional(kEarlier)
            : status == 0                 ? std::optional<std::string>()
                          : "zelmora-launch: status " + std::to_string(status) + ": " + meaning +
                                ", build " + kIdentityBytes + "\r\n" + kept;
        EXPECT_EQ(t.File(kReport), report);
      }
    }
  }
}

// The log goes to the first folder that takes it of TEMP, TMP and the profile; one that none
// takes changes nothing.
TEST(Launcher, KeepsTheLogInTheFirstFolderThatTakesIt) {
  const std::u16string kTmp = u"D:\\tmp", kProfile = u"C:\\Users\\jdoe\\";
  const struct {
    bool tempTakes, tmpSet, tmpTakes, profileTakes;
    std::u16string log;     // where it is; empty: nowhere
    bool tempFull = false;  // the file is made in TEMP, but writing it fails
  } rows[] = {
      {true, true, true, true, kLog},
      {false, true, true, true, kTmp + u"\\zelmora-setup.log"},
      {false, false, true, true, kProfile + u"zelmora-setup.log"},
      {false, true, false, true, kProfile + u"zelmora-setup.log"},
      {true, true, true, true, kTmp + u"\\zelmora-setup.log", true},
      {false, true, false, false, u""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(platform::Utf16ToUtf8(row.log));
    World t;
    if (row.tmpSet) t.platform.environment[u"TMP"] = kTmp;
    t.platform.environment[u"USERPROFILE"] = kProfile;
    t.platform.folders[kTemp].allowsWrites = row.tempTakes;
    t.platform.folders[kTmp].allowsWrites = row.tmpTakes;
    t.platform.folders[u"C:\\Users\\jdoe"].allowsWrites = row.profileTakes;
    if (row.tempFull) t.platform.FailCall(Call::WriteFile, 1, platform::kErrorDiskFull);
    EXPECT_EQ(t.Run(), 0u);
    EXPECT_EQ(t.Stored(), kRan);
    EXPECT_EQ(t.File(row.log).value_or("none"), row.log.empty() ? "none" : "Zelmora Installed\r\n");
    // The log, and what a full TEMP took of it.
    EXPECT_EQ(t.platform.files.size(), (row.log.empty() ? 0u : 1u) + (row.tempFull ? 1u : 0u));
  }
}

// Each call of a run failing in turn, from the command line on, on the way to a complete run and
// to one that did not complete: the launcher's own failure where nothing else applies, the
// tool's start refused, the record refused, and everything else changing nothing.
TEST(Launcher, EachCallOfARunFailingInTurnEndsWithItsStatus) {
  const std::map<Call, UINT> failures = {
      {Call::GetModuleFileNameW, 27},  {Call::WaitForSingleObject, 27},
      {Call::GetExitCodeProcess, 27},  {Call::ReadFile, 27},
      {Call::GetFileVersionInfoW, 23}, {Call::CreateProcessW, 23},
      {Call::RegCreateKeyExW, 21},     {Call::RegSetValueExW, 21},
  };
  for (const bool complete : {true, false}) {
    const auto prepare = [&](World& t) {
      if (!complete) t.Tool(0, "Installation Error\r\n");
      t.platform.files[kReport] = kEarlier;
    };
    World clean;
    prepare(clean);
    ASSERT_EQ(clean.Run(), complete ? 0u : 20u);
    const auto& log = clean.platform.Log();
    const auto at = [&](Call call, std::size_t from) {
      return std::find_if(log.begin() + from, log.end(), [&](auto& e) { return e.call == call; }) -
             log.begin();
    };
    const std::size_t first = at(Call::GetCommandLineW, 0);
    const std::size_t firstTemp = at(Call::GetEnvironmentVariableW, first);
    std::map<Call, int> failed;
    for (std::size_t k = first; k < log.size(); ++k) {
      const Call call = log[k].call;
      if (!platform::CanFail(call)) continue;
      SCOPED_TRACE(std::string(platform::CallName(call)) + " " +
                   platform::Utf16ToUtf8(log[k].detail) + (complete ? "" : ", incomplete"));
      World t;
      prepare(t);
      t.platform.FailAt(k, platform::kErrorAccessDenied);
      const auto failure = failures.find(call);
      UINT status = failure != failures.end() ? failure->second : complete ? 0 : 20;
      if (call == Call::CreateFileW && log[k].detail == kTool) status = 23;
      EXPECT_EQ(t.Run(), status);
      EXPECT_EQ(t.platform.err.bytes.starts_with("Exception ELaunchFailure in module "
                                                 "zelmora-launch.exe at "),
                status == 27)
          << t.platform.err.bytes;
      // A TEMP that cannot be read is the empty text, which is then recorded.
      EXPECT_EQ(t.Stored(), status != 0 ? std::nullopt
                            : k == firstTemp
                                ? Record(std::pair(kIdentity + u'\0', std::u16string(1, u'\0')))
                                : kRan);
      // The report is rewritten or removed unless a step of that fails; a failure of the
      // launcher's own leaves it.
      const bool untouched = call == Call::GetComputerNameW || call == Call::GetUserNameExW ||
                             call == Call::DeleteFileW ||
                             (call == Call::CreateFileW && log[k].detail == kReport);
      EXPECT_EQ(t.File(kReport) == kEarlier, status == 27 || untouched);
      ++failed[call];
    }
    for (const Call call : {Call::CreateFileW, Call::GetFileVersionInfoW, Call::CreateProcessW,
                            Call::WaitForSingleObject, Call::GetExitCodeProcess, Call::ReadFile,
                            Call::WriteFile, Call::GetComputerNameW, Call::GetUserNameExW,
                            Call::RegGetValueW, Call::GetEnvironmentVariableW})
      EXPECT_GT(failed[call], 0) << platform::CallName(call);
    EXPECT_EQ(failed[Call::DeleteFileW], complete ? 1 : 0);
  }
}

TEST(LauncherOptions, TakesItsOptionsInAnyCaseAndRefusesAnythingElse) {
  using enum launcher::LaunchOptions::Action;
  using Options = std::optional<launcher::LaunchOptions>;
  // Each line after the program's name, and the options it gives.
  const std::pair<std::u16string, Options> rows[] = {
      {u"", Options({Run, {}})},
      {u"  /reports \\\\fs01\\reports$ ", Options({Run, u"\\\\fs01\\reports$"})},
      {u"-RePorts \"C:\\My Reports\\\\\"", Options({Run, u"C:\\My Reports\\"})},
      {u"/reports /uninstall", Options({Run, u"/uninstall"})},
      {u"/UNINSTALL", Options({Uninstall, {}})},
      {u"/reports x -uninstall", Options({Uninstall, u"x"})},
      {u"/?", Options({Usage, {}})},
      {u"-?", Options({Usage, {}})},
      {u"/Help /uninstall", Options({Usage, {}})},
  };
  std::vector<std::pair<std::u16string, Options>> all(std::begin(rows), std::end(rows));
  for (const char16_t* refused :
       {u"/reports", u"/reports \"\"", u"/reports a /reports a", u"/uninstall /Uninstall",
        u"/? /bogus", u"reports x", u"/", u"/reportsx y", u"\"/uninstall\"x", u"/\u0130nstall"})
    all.emplace_back(refused, std::nullopt);
  for (const auto& [line, options] : all) {
    SCOPED_TRACE(platform::Utf16ToUtf8(line));
    const auto words = platform::SplitCommandLine(u"\"C:\\x\\zelmora-launch.exe\" " + line);
    std::u16string problem;
    EXPECT_EQ(launcher::ParseOptions(std::span(words).subspan(1), &problem), options);
    EXPECT_EQ(problem.empty(), options.has_value());
  }
  // The whole run: one line on standard error, and nothing else done.
  World t;
  t.platform.commandLine = u"zelmora-launch.exe /reports \\\\fs01\\reports$ /quiet";
  EXPECT_EQ(t.Run(), 24u);
  EXPECT_EQ(t.platform.err.bytes,
            "zelmora-launch: bad command line: unknown argument: /quiet (try /?)\r\n");
  EXPECT_TRUE(t.platform.out.bytes.empty() && t.platform.starts.empty() &&
              t.platform.files.empty());
}

// The settings, then the record, last, so that an uninstall cut short is retried whole.
TEST(LauncherUninstall, RemovesTheSettingsAndThenTheRecord) {
  const struct {
    int failing;  // which delete fails, and with which code
    platform::LONG code;
    UINT status;
    bool settingsLeft, recordLeft;
  } rows[] = {
      {0, 0, 0, false, false},
      {1, platform::kErrorFileNotFound, 0, true, false},
      {2, platform::kErrorFileNotFound, 0, false, true},
      {1, platform::kErrorAccessDenied, 25, true, true},
      {2, platform::kErrorAccessDenied, 25, false, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.failing);
    World t;
    t.platform.commandLine = u"zelmora-launch.exe /uninstall";
    SettingsKey(t.platform.Registry(), u"LocalParams")
        .SetValue(u"x", platform::kRegDword, Dword(1));
    t.SetRecord(kIdentity, kTemp);
    if (row.failing != 0) t.platform.FailCall(Call::RegDeleteTreeW, row.failing, row.code);
    EXPECT_EQ(t.Run(), row.status);
    EXPECT_EQ(t.platform.Registry().FindKey(u"Software\\Quorvane\\Zelmora") != nullptr,
              row.settingsLeft);
    EXPECT_EQ(t.Stored().has_value(), row.recordLeft);
    EXPECT_EQ(t.platform.out.bytes, row.status == 0
                                        ? "Zelmora set-up: uninstalled for this user\r\n"
                                        : "Zelmora set-up failed (25): the uninstall failed\r\n");
  }
}

// The report's name: the computer, the domain and the user, each fit for a file name.
TEST(LauncherReports, NamesTheReportAfterTheComputerTheDomainAndTheUser) {
  const struct {
    std::u16string computer;
    std::optional<std::u16string> domain;
    std::u16string user, name;
  } rows[] = {
      {u"WS-0142", u"CORP", u"jdoe", u"WS-0142-CORP-jdoe.log"},
      {u"WS-0142", {}, u"jdoe", u"WS-0142-WS-0142-jdoe.log"},
      {u"WS", u"a<b>c:d\"e", u"f/g|h?i*j", u"WS-a_b_c_d_e-f_g_h_i_j.log"},
      {u"WS", u"CORP.", u"j. . ", u"WS-CORP_-j____.log"},
      {u"W\tS", u"C\u001FP", u"\u05D9\u05D5\u05E1\u05D9", u"W_S-C_P-\u05D9\u05D5\u05E1\u05D9.log"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(platform::Utf16ToUtf8(row.name));
    World t;
    t.Tool(1, "");
    t.platform.computerName = row.computer;
    t.platform.domain = row.domain;
    t.platform.userName = row.user;
    EXPECT_EQ(t.Run(), 1u);
    EXPECT_TRUE(t.File(kReports + u"\\" + row.name));
  }
}

}  // namespace
}  // namespace zelmora::testing
