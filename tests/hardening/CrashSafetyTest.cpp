// The tool killed in the middle of its writes: the store it leaves is always one complete
// version, never loses a value it held, and the next run finishes the job.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <regex>
#include <thread>

#include "tests/hardening/HardeningSupport.h"

namespace zelmora::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::microseconds;
using std::chrono::steady_clock;

bool Exists(const fs::path& path) { return fs::exists(fs::symlink_status(path)); }

// The sanitizers' settings of this test run, with more appended (no effect on a plain build).
std::string AsanOptionsWith(const std::string& more) {
  const char* inherited = std::getenv("ASAN_OPTIONS");
  return "ASAN_OPTIONS=" + std::string(inherited != nullptr ? inherited : "") + ":" + more;
}

// The checks after every stopped run: the store, when there, reads back and holds only values
// the run writes, under the layout's keys; nothing but the store, its lock and the one temporary
// file is left in the folder.
std::optional<std::vector<StoredValue>> CheckedStore(const ScratchHome& home,
                                                     const std::vector<StoredValue>& writes) {
  EXPECT_EQ(StrayEntries(home), std::set<std::string>{});
  if (!Exists(home.Store())) return std::vector<StoredValue>{};
  const auto tree = ReadStore(home.Store());
  if (!tree) {
    ADD_FAILURE() << "the store does not read back";
    return std::nullopt;
  }
  for (const std::u16string& key : KeyPaths(*tree)) {
    EXPECT_TRUE(IsLayoutKey(key)) << "a key the run never creates: "
                                  << ::testing::PrintToString(key);
  }
  std::vector<StoredValue> values = Contents(*tree);
  for (const StoredValue& value : values) {
    EXPECT_NE(std::find(writes.begin(), writes.end(), value), writes.end())
        << "a value the run never writes: " << ::testing::PrintToString(value);
  }
  return values;
}

TEST(HardeningCrashSafety, RunsKilledAtRandomInstantsNeverTearTheStoreOrLoseAValue) {
  constexpr unsigned kSeed = 20240611;
  constexpr int kKills = 300;
  const ScratchHome home;
  const ToolOptions options = home.Options();
  // A sanitized run killed during its exit-time leak check would say so on standard error.
  ToolOptions killedOptions = options;
  killedOptions.environment.push_back(AsanOptionsWith("detect_leaks=0"));
  const std::vector<StoredValue> writes = RunWrites(kTemp);
  const std::vector<StoredValue> complete = AfterWrites(writes, writes.size());

  // How long a whole run takes here, from nothing to the complete layout.
  std::vector<steady_clock::duration> durations;
  for (int i = 0; i < 5; ++i) {
    fs::remove_all(home.Config());
    const auto start = steady_clock::now();
    ASSERT_EQ(RunTool(options).out, kInstalled);
    durations.push_back(steady_clock::now() - start);
  }
  std::sort(durations.begin(), durations.end());
  const auto span = std::chrono::duration_cast<microseconds>(durations[durations.size() / 2]);
  fs::remove_all(home.Config());

  std::mt19937 random(kSeed);
  std::uniform_int_distribution<long> delays(0, span.count());
  std::vector<StoredValue> held;  // what the store held before the run now killed
  int grown = 0;                  // kills that left part of the layout
  // At least kKills kills, and more while a loaded machine has made too few of them land while
  // the store was growing.
  for (int kill = 0; kill < kKills || (grown <= kKills / 10 && kill < 3 * kKills); ++kill) {
    const microseconds delay(delays(random));
    SCOPED_TRACE("seed " + std::to_string(kSeed) + ", kill " + std::to_string(kill) + " after " +
                 std::to_string(delay.count()) + " us of a " + std::to_string(span.count()) +
                 " us run");
    RunningTool run(killedOptions);
    std::this_thread::sleep_for(delay);
    run.Kill();
    const ToolResult result = run.Wait();
    if (result.status != kKilledStatus) {
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, kInstalled);  // it finished first
    } else {
      EXPECT_TRUE(result.out.empty() || result.out == kInstalled) << result.out;
    }
    EXPECT_EQ(result.err, "");

    const auto values = CheckedStore(home, writes);
    ASSERT_TRUE(values.has_value());
    for (const StoredValue& old : held) {
      EXPECT_TRUE(std::any_of(
          values->begin(), values->end(),
          [&](const StoredValue& now) { return now.key == old.key && now.name == old.name; }))
          << "lost: " << ::testing::PrintToString(old);
    }
    if (::testing::Test::HasFailure()) break;  // one detailed failure beats hundreds
    held = *values;
    // Once complete, runs rewrite only LocalPath; starting over keeps kills landing while the
    // store grows.
    if (held == complete) {
      fs::remove(home.Store());
      held.clear();
    } else if (!held.empty()) {
      ++grown;
    }
  }
  EXPECT_GT(grown, kKills / 10) << "too few kills landed while the store was growing";

  const ToolResult last = RunTool(options);
  EXPECT_EQ(last.status, 0);
  EXPECT_EQ(last.out, kInstalled);
  EXPECT_EQ(last.err, "");
  ExpectCompleteLayout(home.Store(), kTemp);
  EXPECT_FALSE(Exists(home.Temporary()));
}

// The kill hook's settings: the stops of ZELMORA_KILL_AT.
std::vector<std::string> StopAt(const std::string& stops) {
  return {"LD_PRELOAD=" HARDENING_KILL_HOOK, "ZELMORA_KILL_AT=" + stops,
          // A sanitized tool accepts a library loaded ahead of its runtime.
          AsanOptionsWith("verify_asan_link_order=0")};
}

// Stopped just before each swap of a new version into place, and just before each removal of
// the temporary file, a run leaves exactly what its first writes leave -- a later stop never
// less -- and a complete version, if any, at the temporary name. The next run clears that.
TEST(HardeningCrashSafety, ARunStoppedAtEachStepOfAWriteLeavesOneCompleteVersion) {
  const ScratchHome home;
  const std::vector<StoredValue> writes = RunWrites(kTemp);
  for (const std::string call : {"rename", "unlink"}) {
    std::size_t reached = 0;  // writes in the store at the previous stop
    int stops = 0;
    for (int n = 1; n < 1000; ++n) {
      SCOPED_TRACE("stopped at " + call + " " + std::to_string(n));
      fs::remove_all(home.Config());
      ToolOptions options = home.Options();
      options.environment = StopAt(call + ":" + std::to_string(n));
      const ToolResult stopped = RunTool(options);
      if (stopped.status == 0 && stopped.out == kInstalled) break;  // past the run's last call
      ASSERT_EQ(stopped.status, kKilledStatus) << stopped.out << stopped.err;
      ++stops;

      const auto values = CheckedStore(home, writes);
      ASSERT_TRUE(values.has_value());
      const auto prefix = WrittenPrefix(*values, writes);
      ASSERT_TRUE(prefix.has_value()) << "not what the first writes leave:\n" << Describe(*values);
      EXPECT_GE(*prefix, reached);
      reached = *prefix;
      if (Exists(home.Temporary())) {
        const auto leftover = ReadStore(home.Temporary());
        ASSERT_TRUE(leftover.has_value()) << "a half-written version at the temporary name";
        EXPECT_TRUE(WrittenPrefix(Contents(*leftover), writes).has_value());
      } else {
        EXPECT_NE(call, "rename") << "no new version waiting to be swapped in";
      }

      const ToolResult next = RunTool(home.Options());
      EXPECT_EQ(next.out, kInstalled);
      ExpectCompleteLayout(home.Store(), kTemp);
      EXPECT_FALSE(Exists(home.Temporary()));
      if (::testing::Test::HasFailure()) return;
    }
    // Every write swaps once and removes the temporary name twice.
    EXPECT_GE(stops, static_cast<int>(call == "rename" ? writes.size() : 2 * writes.size()));
    EXPECT_GE(reached + 1, writes.size());
  }
}

// A library call that faults, in each way, in the middle of a run: the report names the fault
// and the module it struck in, the status is 1 (also with the fault signals blocked), the run
// ends straight after it (shut-down's second set_new_handler would kill it), and the store keeps
// exactly the values written before it. A fault in start-up gives the fallback line and ends
// the same way; a second one, in the report, ends the run at once. A SIGSEGV sent is no fault.
TEST(HardeningCrashSafety, AProcessorFaultIsReportedAndKeepsWhatWasWritten) {
  const std::string hook = fs::path(HARDENING_KILL_HOOK).filename().string();
  const auto Report = [&](const std::string& name, const std::string& message) {
    return "Exception " + name + " in module " + hook + " at ADDRESS.\r\n" + message + ".\r\n\r\n";
  };
  struct Case {
    std::string stops;
    int status;
    std::string out;
    std::string err;
    std::size_t written;  // values in the store
  };
  const Case cases[] = {
      {"blocked,rename:4:read", 1, "",
       Report("EAccessViolation", "Access violation: read of address 0000000000000018"), 1},
      {"rename:6:write,set_new_handler:2", 1, "",
       Report("EAccessViolation", "Access violation: write of address 0000000000000028"), 2},
      {"blocked,rename:8:divide", 1, "", Report("EDivisionByZero", "Division by zero"), 4},
      {"rename:6:readonly", 1, "",
       Report("EAccessViolation", "Access violation: write of address 0000000040000000"), 2},
      {"blocked,rename:6:bus", 1, "",
       Report("EAccessViolation", "Access violation: read of address 0000000040000000"), 2},
      {"rename:10:stack", 1, "", Report("EStackOverflow", "Stack overflow"), 6},
      {"rename:10:bigstack", 1, "", Report("EStackOverflow", "Stack overflow"), 6},
      {"rename:12:illegal", 1, "", Report("EIllegalInstruction", "Illegal instruction"), 8},
      {"rename:6:sent", 1000 + SIGSEGV, "", "", 2},
      {"rename:6:read,dladdr:1:write", 1, "", "", 2},
      {"set_new_handler:1:read,set_new_handler:2", 217, "Runtime error 217 at ADDRESS\r\n", "", 0},
  };
  const std::regex address(" at [0-9A-F]{16}");
  const ScratchHome home;
  const std::vector<StoredValue> writes = RunWrites(kTemp);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stops);
    fs::remove_all(home.Config());
    ToolOptions options = home.Options();
    options.environment = StopAt(c.stops);
    const ToolResult result = RunningTool(options).Wait(std::chrono::seconds(30));
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(std::regex_replace(result.out, address, " at ADDRESS"), c.out);
    EXPECT_EQ(std::regex_replace(result.err, address, " at ADDRESS"), c.err);
    const auto values = CheckedStore(home, writes);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ(*values, AfterWrites(writes, c.written)) << Describe(*values);
  }
}

}  // namespace
}  // namespace zelmora::testing
