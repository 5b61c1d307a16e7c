#include <gtest/gtest.h>

#include <new>

#include "installer/InstallationRun.h"
#include "platform/common/Utf.h"
#include "registry/StdOutChannel.h"
#include "tests/support/RunFixture.h"

namespace zelmora::testing {
namespace {

using platform::kFileTypeChar;
using platform::kFileTypePipe;

constexpr platform::LONG kDenied = platform::kErrorAccessDenied;

const std::vector<std::u16string> kKeysAfterSuccess = {
    u"Software",
    u"Software\\Quorvane",
    u"Software\\Quorvane\\Zelmora",
    u"Software\\Quorvane\\Zelmora\\Files",
    u"Software\\Quorvane\\Zelmora\\GlobalParams",
    u"Software\\Quorvane\\Zelmora\\LocalParams",
};

class InstallationRun : public RunFixture {
 protected:
  void ExpectComplete(const std::u16string& temp, bool designated) {
    EXPECT_EQ(Contents(platform.Registry()), Apply(ExpectedWrites(temp, designated)));
    EXPECT_EQ(KeyPaths(platform.Registry()), kKeysAfterSuccess);
  }
};

TEST_F(InstallationRun, OrdinaryAccountGetsTheWholeLayout) {
  platform.environment[u"TEMP"] = u"C:\\Users\\jdoe\\AppData\\Local\\Temp";
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Out(), kInstalled);
  ExpectComplete(u"C:\\Users\\jdoe\\AppData\\Local\\Temp", false);
  // 43 values in LocalParams, eight in GlobalParams, one in Files.
  const auto* local = platform.Registry().FindKey(u"Software\\Quorvane\\Zelmora\\LocalParams");
  const auto* global = platform.Registry().FindKey(u"Software\\Quorvane\\Zelmora\\GlobalParams");
  ASSERT_TRUE(local && global);
  EXPECT_EQ(local->Values().size(), 43u);
  EXPECT_EQ(global->Values().size(), 8u);
  EXPECT_EQ(platform.err.bytes, "");
  EXPECT_EQ(platform.OpenKeyHandles(), 0u);
}

TEST_F(InstallationRun, DesignatedAccountSkipsTheThreeTierServerAndKeepsOldValues) {
  for (const std::u16string name :
       {u"UPSCTRL", u"upsctrl", u" upsctrl ", u"UpsCtrl", u"UPSCTRL\t"}) {
    SCOPED_TRACE(platform::Utf16ToUtf8(name));
    ScriptedPlatform fresh;
    platform::ScopedSystem system(fresh);
    StdOut().SetUp();
    fresh.userName = name;
    fresh.environment[u"TEMP"] = u"C:\\Temp";
    // Left by an earlier run as an ordinary account: the designated account leaves them be.
    auto& global = SettingsKey(fresh.Registry(), u"GlobalParams");
    global.SetValue(u"MultiTierPort", platform::kRegDword, Dword(5524));
    global.SetValue(u"MultiTierServer", platform::kRegSz, Sz(u"OLDSERVER"));

    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fresh.out.bytes, kInstalled);
    std::vector<LayoutWrite> writes = ExpectedWrites(u"C:\\Temp", true);
    writes.insert(writes.begin(), {{0,
                                    {u"Software\\Quorvane\\Zelmora\\GlobalParams", u"MultiTierPort",
                                     platform::kRegDword, Dword(5524)}},
                                   {0,
                                    {u"Software\\Quorvane\\Zelmora\\GlobalParams",
                                     u"MultiTierServer", platform::kRegSz, Sz(u"OLDSERVER")}}});
    EXPECT_EQ(Contents(fresh.Registry()), Apply(writes));
  }
}

TEST_F(InstallationRun, NamesThatOnlyLookLikeTheDesignatedAccountAreOrdinary) {
  for (const std::u16string name :
       {u"UPS CTRL", u"UPSCTRL.", u"UPSCTRL2", u"UPSCTRL\u00A0", u"UPSCTRL\u007F", u"\u0423PSCTRL",
        u"\uFF35\uFF30\uFF33\uFF23\uFF34\uFF32\uFF2C", u"   ", u""}) {
    SCOPED_TRACE(platform::Utf16ToUtf8(name));
    ScriptedPlatform fresh;
    platform::ScopedSystem system(fresh);
    StdOut().SetUp();
    fresh.userName = name;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Contents(fresh.Registry()), Apply(ExpectedWrites(u"", false)));
  }
}

TEST_F(InstallationRun, TempIsUsedExactlyAsItComes) {
  const std::u16string longTemp(5000, u'x');
  for (const std::optional<std::u16string>& temp : std::vector<std::optional<std::u16string>>{
           std::nullopt, u"", u"C:\\Temp\\", u" C:\\Temp ", longTemp, std::u16string(1023, u't')}) {
    ScriptedPlatform fresh;
    platform::ScopedSystem system(fresh);
    StdOut().SetUp();
    if (temp) fresh.environment[u"TEMP"] = *temp;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fresh.out.bytes, kInstalled);
    EXPECT_EQ(Contents(fresh.Registry()), Apply(ExpectedWrites(temp.value_or(u""), false)));
  }
}

TEST_F(InstallationRun, EmptyTempGivesBarePaths) {
  EXPECT_EQ(Run(), 0);
  const auto* local = platform.Registry().FindKey(u"Software\\Quorvane\\Zelmora\\LocalParams");
  const auto* files = platform.Registry().FindKey(u"Software\\Quorvane\\Zelmora\\Files");
  ASSERT_TRUE(local && files);
  EXPECT_EQ(local->FindValue(u"LocalPath")->data, Sz(u""));
  EXPECT_EQ(files->FindValue(u"LastReport")->data, Sz(u"\\LASTREP.REP"));
}

TEST_F(InstallationRun, SecondRunRewritesTheSameValues) {
  platform.environment[u"TEMP"] = u"C:\\Temp";
  ASSERT_EQ(Run(), 0);
  const auto first = Contents(platform.Registry());
  platform.out.bytes.clear();
  StdOut().SetUp();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Out(), kInstalled);
  EXPECT_EQ(Contents(platform.Registry()), first);
}

TEST_F(InstallationRun, ValuesThatTheRunDoesNotWriteStay) {
  auto& local = SettingsKey(platform.Registry(), u"LocalParams");
  local.SetValue(u"UserChoice", platform::kRegSz, Sz(u"kept"));
  local.SetValue(u"Color", platform::kRegSz, Sz(u"was a string"));  // replaced, with its type
  ASSERT_EQ(Run(), 0);
  const auto* key = platform.Registry().FindKey(u"Software\\Quorvane\\Zelmora\\LocalParams");
  EXPECT_EQ(key->FindValue(u"UserChoice")->data, Sz(u"kept"));
  EXPECT_EQ(key->FindValue(u"Color")->type, platform::kRegDword);
  EXPECT_EQ(key->FindValue(u"Color")->data, Dword(13949653));
}

// What one failing platform call must leave, from the run's failure table.
struct Outcome {
  std::vector<StoredValue> values;
  std::string out;
  std::int32_t escapedIoCode = 0;
};

Outcome ExpectedAfterFailure(const platform::CallRecord& failed, int nth, bool designated,
                             const std::u16string& temp, bool console) {
  const std::vector<LayoutWrite> all = ExpectedWrites(temp, designated);
  Outcome success{Apply(all), kInstalled, 0};
  // Without stage one's write, LocalPath takes its place in LocalParams from the last stage.
  const Outcome withoutFirstWrite{Apply(std::vector<LayoutWrite>(all.begin() + 1, all.end())),
                                  kInstalled, 0};
  // The writes made before the given one (the nth write of the run, counted from 1).
  auto before = [&](std::size_t count) {
    return Apply(std::vector<LayoutWrite>(all.begin(), all.begin() + count));
  };
  const auto stageStart = [&](int stage) {
    std::size_t i = 0;
    while (all[i].stage < stage) ++i;
    return i;
  };
  switch (failed.call) {
    case Call::RegSetValueExW: {
      // The first write's failure is discarded; any later one ends the run's registry work.
      if (nth == 1) return withoutFirstWrite;
      return {before(static_cast<std::size_t>(nth) - 1), kInstallationError, 0};
    }
    case Call::RegCreateKeyExW:
      // The key's first write then fails for want of an open key.
      if (nth == 1) return withoutFirstWrite;
      if (nth == 2) return {before(stageStart(2)), kInstallationError, 0};
      if (nth == 3) return {before(stageStart(3)), kInstallationError, 0};
      return {before(all.size() - 1), kInstallationError, 0};
    case Call::GetEnvironmentVariableW:
      return {Apply(ExpectedWrites(u"", designated)), kInstalled, 0};
    case Call::GetUserNameW:
      return {Apply(ExpectedWrites(temp, false)), kInstalled, 0};
    case Call::GetStdHandle:
    case Call::GetFileType:
      return {success.values, "", 105};
    case Call::WideCharToMultiByte:
      return {success.values, "", kDenied};
    case Call::WriteFile:
      // A console writes the line at once and reports; a pipe holds it until shut-down, when
      // nothing checks any more.
      if (console) return {success.values, "", kDenied};
      return {success.values, "", 0};
    default:
      return success;  // RegCloseKey: its result is ignored
  }
}

// Every call of a full run in turn, for both kinds of account and both kinds of output.
TEST_F(InstallationRun, EachFailingPlatformCallLeavesWhatTheFailureTableSays) {
  const std::u16string temp = u"D:\\Tmp";
  int cases = 0;
  for (const bool designated : {false, true}) {
    for (const bool console : {false, true}) {
      auto prepare = [&](ScriptedPlatform& p) {
        p.environment[u"TEMP"] = temp;
        p.userName = designated ? u"UpsCtrl" : u"jdoe";
        p.out.fileType = console ? kFileTypeChar : kFileTypePipe;
      };
      std::vector<platform::CallRecord> log;
      {
        ScriptedPlatform clean;
        prepare(clean);
        platform::ScopedSystem system(clean);
        StdOut().SetUp();
        ASSERT_EQ(Run(), 0);
        log = clean.Log();
      }
      std::map<Call, int> seen;
      for (std::size_t k = 0; k < log.size(); ++k) {
        const int nth = ++seen[log[k].call];
        if (!platform::CanFail(log[k].call)) continue;
        SCOPED_TRACE(::testing::Message()
                     << "call " << k << " " << platform::CallName(log[k].call) << " #" << nth
                     << " designated " << designated << " console " << console);
        ScriptedPlatform p;
        prepare(p);
        p.FailAt(k, kDenied);
        platform::ScopedSystem system(p);
        StdOut().SetUp();
        const std::int32_t escaped = Run();
        const Outcome expected = ExpectedAfterFailure(log[k], nth, designated, temp, console);
        EXPECT_EQ(Contents(p.Registry()), expected.values);
        EXPECT_EQ(escaped, expected.escapedIoCode);
        if (expected.escapedIoCode == 0) {
          EXPECT_EQ(p.out.bytes, expected.out);
        }
        // A handle whose closing failed may stay open; every other one is released.
        if (log[k].call != Call::RegCloseKey) {
          EXPECT_EQ(p.OpenKeyHandles(), 0u);
        }
        ++cases;
      }
    }
  }
  EXPECT_GT(cases, 4 * 60);
}

// Memory running out inside a call: the guards decide what is printed.
TEST_F(InstallationRun, MemoryExhaustionInsideTheStagesIsCaughtByTheGuards) {
  platform.environment[u"TEMP"] = u"C:\\Temp";
  ASSERT_EQ(Run(), 0);
  const auto log = platform.Log();
  const auto firstGlobal = std::find_if(log.begin(), log.end(),
                                        [](const auto& record) {
                                          return record.call == Call::RegCreateKeyExW &&
                                                 record.detail.ends_with(u"GlobalParams");
                                        }) -
                           log.begin();

  for (std::size_t k = 0; k < log.size(); ++k) {
    // A closing key never fails; the console calls belong to the unguarded result line.
    if (log[k].call == Call::RegCloseKey && k > static_cast<std::size_t>(firstGlobal)) continue;
    if (!platform::CanFail(log[k].call)) continue;
    SCOPED_TRACE(::testing::Message() << "call " << k << " " << platform::CallName(log[k].call));
    ScriptedPlatform p;
    p.environment[u"TEMP"] = u"C:\\Temp";
    p.ExhaustMemoryAt(k);
    platform::ScopedSystem system(p);
    StdOut().SetUp();
    const Call call = log[k].call;
    const bool stageOne = static_cast<std::ptrdiff_t>(k) < firstGlobal;
    if (call == Call::GetStdHandle || call == Call::GetFileType ||
        call == Call::WideCharToMultiByte || call == Call::WriteFile) {
      EXPECT_THROW(Run(), std::bad_alloc);
      continue;
    }
    EXPECT_EQ(Run(), 0);
    if (stageOne && call == Call::RegSetValueExW) {
      EXPECT_EQ(p.out.bytes, kInstalled);  // the first write's failure is discarded
    } else if (stageOne && call != Call::GetEnvironmentVariableW) {
      EXPECT_EQ(p.out.bytes, kRegistryError + kInstallationError);
      EXPECT_EQ(p.Registry().FindKey(u"Software\\Quorvane\\Zelmora\\GlobalParams"), nullptr);
    } else {
      EXPECT_EQ(p.out.bytes, kInstallationError);
    }
    if (call == Call::GetEnvironmentVariableW) {
      // The failed lookup sets the flag, yet stage 1 still runs, with an empty TEMP.
      EXPECT_EQ(Contents(p.Registry()),
                (std::vector<StoredValue>{{u"Software\\Quorvane\\Zelmora\\LocalParams",
                                           u"LocalPath", platform::kRegSz, Sz(u"\\ZELMODAT")}}));
    }
    EXPECT_EQ(p.OpenKeyHandles(), 0u);
  }
}

TEST_F(InstallationRun, AFailedStageOneMessageIsAbsorbedAndTheResultLineStillTried) {
  // Find stage 1's create by running clean first.
  ScriptedPlatform clean;
  {
    platform::ScopedSystem system(clean);
    StdOut().SetUp();
    Run();
  }
  std::size_t create = 0;
  while (clean.Log()[create].call != Call::RegCreateKeyExW) ++create;
  ScriptedPlatform p;
  p.out.fileType = kFileTypeChar;
  p.ExhaustMemoryAt(create);
  p.FailCall(Call::WriteFile, 1, 112);  // the stage-1 message cannot be written
  platform::ScopedSystem system(p);
  StdOut().SetUp();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(p.out.bytes, kInstallationError);
  EXPECT_EQ(p.OpenKeyHandles(), 0u);
}

TEST_F(InstallationRun, UnusableStandardOutputFailsOnlyTheResultLine) {
  platform.out.fileType = platform::kFileTypeUnknown;
  platform.environment[u"TEMP"] = u"C:\\Temp";
  EXPECT_EQ(Run(), 105);
  EXPECT_EQ(Contents(platform.Registry()), Apply(ExpectedWrites(u"C:\\Temp", false)));
}

TEST_F(InstallationRun, OutputReachesAFileOnlyAtShutDownAndAConsoleAtOnce) {
  for (const platform::DWORD type : {platform::kFileTypeDisk, kFileTypeChar}) {
    ScriptedPlatform p;
    p.out.fileType = type;
    platform::ScopedSystem system(p);
    StdOut().SetUp();
    RunInstallation();
    EXPECT_EQ(p.out.bytes, type == kFileTypeChar ? kInstalled : "");
    StdOut().Close();
    EXPECT_EQ(p.out.bytes, kInstalled);
    EXPECT_EQ(p.out.writeSizes, std::vector<std::size_t>{kInstalled.size()});
  }
}

}  // namespace
}  // namespace zelmora::testing
