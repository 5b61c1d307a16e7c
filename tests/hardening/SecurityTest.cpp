// The store's files and folders are the user's alone whatever the umask, and nothing at the
// temporary file's name -- left by a killed run or planted -- is ever followed or written through.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "tests/hardening/HardeningSupport.h"

namespace zelmora::testing {
namespace {

namespace fs = std::filesystem;
using platform::testing::ModeOf;
using platform::testing::WriteFileBytes;
using Bytes = std::vector<std::uint8_t>;

const Bytes kVictim{'v', 'i', 'c', 't', 'i', 'm', '\n'};

TEST(HardeningSecurity, FoldersArePrivateAndFilesOwnerOnlyWhateverTheUmask) {
  // 0277 would take even the owner's write bit from what is created.
  for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}, mode_t{0277}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    const ScratchHome home;
    ToolOptions options = home.Options("/first");
    options.umask = mask;
    EXPECT_EQ(RunTool(options).out, kInstalled);
    options.temp = "/second";  // so that the store is replaced by a new file
    EXPECT_EQ(RunTool(options).out, kInstalled);
    ExpectCompleteLayout(home.Store(), "/second");
    for (const fs::path& folder : {home.Config(), home.Config() / "zelmora", home.Registry()}) {
      EXPECT_EQ(ModeOf(folder), 0700u) << folder;
    }
    EXPECT_EQ(ModeOf(home.Store()), 0600u);
    EXPECT_EQ(ModeOf(home.Lock()), 0600u);
  }
}

// Everything in the home but the registry folder, where the run does its work.
std::map<std::string, std::string> Outside(const ScratchHome& home) {
  auto entries = Snapshot(home.Home());
  std::erase_if(entries, [](const auto& entry) { return entry.first.starts_with("config"); });
  return entries;
}

TEST(HardeningSecurity, ALeftoverAtTheTemporaryNameIsClearedNotFollowedNorWrittenThrough) {
  const Bytes older = StoreWrittenFor("/old temp");
  const struct {
    std::string what;
    std::function<void(const ScratchHome&)> make;
    bool cleared;  // or else the run is refused and leaves it
  } cases[] = {
      {"a complete version, as a kill before the swap leaves it",
       [&](const ScratchHome& home) { WriteFileBytes(home.Temporary(), older); }, true},
      {"a half-written version",
       [&](const ScratchHome& home) {
         WriteFileBytes(home.Temporary(), Bytes(older.begin(), older.begin() + older.size() / 2));
       },
       true},
      {"a link to a victim file",
       [&](const ScratchHome& home) {
         fs::create_symlink(home.Home() / "victim", home.Temporary());
       },
       true},
      {"a link to nowhere",
       [&](const ScratchHome& home) {
         fs::create_symlink(home.Home() / "made-through-link", home.Temporary());
       },
       true},
      {"a hard link to a victim file",
       [&](const ScratchHome& home) {
         fs::create_hard_link(home.Home() / "victim", home.Temporary());
       },
       true},
      {"a named pipe", [&](const ScratchHome& home) { mkfifo(home.Temporary().c_str(), 0600); },
       true},
      // Never removed with what it holds: the tool did not make it.
      {"a folder",
       [&](const ScratchHome& home) {
         fs::create_directories(home.Temporary());
         WriteFileBytes(home.Temporary() / "inside", kVictim);
       },
       false},
  };
  for (const auto& [what, make, cleared] : cases) {
    for (const bool withStore : {false, true}) {
      SCOPED_TRACE(what + (withStore ? ", beside a store" : ", no store yet"));
      const ScratchHome home;
      fs::create_directories(home.Registry());
      WriteFileBytes(home.Home() / "victim", kVictim);
      if (withStore) WriteFileBytes(home.Store(), older);
      make(home);
      if (!cleared) {
        ExpectRefusedAndUntouched(home, home.Options(), what);
        continue;
      }
      const auto outside = Outside(home);
      const ToolResult result = RunningTool(home.Options()).Wait(std::chrono::seconds(20));
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, kInstalled);
      EXPECT_EQ(result.err, "");
      ExpectCompleteLayout(home.Store(), kTemp);
      EXPECT_EQ(ModeOf(home.Store()), 0600u);
      EXPECT_FALSE(fs::exists(fs::symlink_status(home.Temporary())));
      EXPECT_EQ(StrayEntries(home), std::set<std::string>{});
      EXPECT_EQ(Changed(outside, Outside(home)), std::set<std::string>{});
    }
  }
}

// A link planted again and again at the temporary name while runs go on: a run may lose the race
// for the name and fail cleanly, but never writes through the link nor swaps it into place.
TEST(HardeningSecurity, ALinkPlantedAtTheTemporaryNameDuringRunsIsNeverWrittenThrough) {
  const ScratchHome home;
  const fs::path victim = home.Home() / "victim";
  WriteFileBytes(victim, kVictim);
  ASSERT_EQ(RunTool(home.Options("/a")).out, kInstalled);

  std::atomic<bool> stop{false};
  std::atomic<int> planted{0};
  std::thread planter([&] {
    while (!stop) {
      if (symlink(victim.c_str(), home.Temporary().c_str()) == 0) ++planted;
      std::this_thread::yield();
    }
  });
  int refused = 0;
  // At least 40 runs, and more while a loaded machine has left the planter little time.
  for (int run = 0; run < 40 || (planted <= 40 && run < 400); ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const ToolResult result = RunTool(home.Options(run % 2 == 0 ? "/b" : "/a"));  // always writes
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.out == kInstalled || result.out == kInstallationError) << result.out;
    refused += result.out == kInstallationError;
    EXPECT_EQ(platform::testing::FileBytes(victim), kVictim);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(home.Store())));
    EXPECT_TRUE(ReadStore(home.Store()).has_value());
    if (::testing::Test::HasFailure()) break;
  }
  stop = true;
  planter.join();
  EXPECT_GT(planted, 40) << "the planter hardly ran";
  ::testing::Test::RecordProperty("runsThatLostTheRace", refused);

  fs::remove(home.Temporary());
  ASSERT_EQ(RunTool(home.Options()).out, kInstalled);
  ExpectCompleteLayout(home.Store(), kTemp);
}

}  // namespace
}  // namespace zelmora::testing
