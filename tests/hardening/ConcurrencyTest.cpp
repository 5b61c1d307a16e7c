// Many runs of the tool at once on one store, with another writer beside them: every run
// succeeds, no write is lost, and a reader never finds a half-written file.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/common/RegFileFormat.h"
#include "tests/hardening/HardeningSupport.h"
#include "tests/hardening/Probe.h"

namespace zelmora::testing {
namespace {

namespace fs = std::filesystem;

std::size_t ProbeValuesIn(const platform::RegistryTree& tree) {
  const platform::RegistryKey* key = tree.FindKey(kProbeKey);
  return key == nullptr ? 0 : key->Values().size();
}

// Keeps only the probe's values, so that the next round's runs write the whole layout again and
// contend for every write. Replaced by a rename, as the reader may be reading.
void DropLayout(const ScratchHome& home) {
  const auto tree = ReadStore(home.Store());
  ASSERT_TRUE(tree.has_value());
  platform::RegistryTree kept;
  if (const platform::RegistryKey* probe = tree->FindKey(kProbeKey)) {
    platform::RegistryKey& copy = kept.Root()
                                      .SubkeyCreatingMissing(u"Software", nullptr)
                                      .SubkeyCreatingMissing(u"HardeningProbe", nullptr);
    for (const platform::RegistryValue& value : probe->Values()) {
      copy.SetValue(value.name, value.type, value.data);
    }
  }
  const fs::path side = home.Registry() / "next-round";
  platform::testing::WriteFileBytes(side, platform::FormatRegFile(kept, u"HKEY_CURRENT_USER"));
  fs::rename(side, home.Store());
}

TEST(HardeningConcurrency, EightRunsAndAWriterAtOnceLoseNoWriteAndNeverTearTheFile) {
  constexpr int kRounds = 20;
  constexpr int kRuns = 8;
  constexpr int kProbeValuesPerRound = 10;
  const ScratchHome home;

  // Reads the file over and over while the rounds go on, as any other program might.
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::atomic<int> torn{0};
  std::atomic<int> shrank{0};  // probe values that a later read no longer had
  std::thread reader([&] {
    std::size_t seen = 0;
    while (!stop) {
      // A pause between reads leaves the two cores to the runs.
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      if (!fs::exists(home.Store())) continue;
      const std::string bytes = ReadFile(home.Store());
      const auto tree = platform::ParseRegFile(
          std::vector<std::uint8_t>(bytes.begin(), bytes.end()), u"HKEY_CURRENT_USER");
      ++reads;
      if (!tree) {
        ++torn;
        continue;
      }
      const std::size_t count = ProbeValuesIn(*tree);
      if (count < seen) ++shrank;
      seen = std::max(seen, count);
    }
  });

  for (int round = 0; round < kRounds && !::testing::Test::HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<std::unique_ptr<RunningTool>> runs;
    for (int i = 0; i < kRuns; ++i) runs.push_back(std::make_unique<RunningTool>(home.Options()));
    ToolOptions probe = home.Options();
    probe.program = HARDENING_PROBE_WRITER;
    probe.arguments = {std::to_string(round * kProbeValuesPerRound),
                       std::to_string(kProbeValuesPerRound)};
    RunningTool writer(probe);
    for (auto& run : runs) {
      const ToolResult result = run->Wait();
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, kInstalled);
      EXPECT_EQ(result.err, "");
    }
    const ToolResult written = writer.Wait();
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.err, "");
    ExpectCompleteLayout(home.Store(), kTemp, kProbeKey);
    if (round + 1 < kRounds) DropLayout(home);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_EQ(shrank, 0);
  EXPECT_GT(reads, kRounds) << "the reader hardly ran";

  const auto tree = ReadStore(home.Store());
  ASSERT_TRUE(tree.has_value());
  const platform::RegistryKey* key = tree->FindKey(kProbeKey);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->Values().size(), std::size_t{kRounds * kProbeValuesPerRound});
  for (int index = 0; index < kRounds * kProbeValuesPerRound; ++index) {
    const platform::RegistryValue* value = key->FindValue(ProbeName(index));
    ASSERT_NE(value, nullptr) << "lost w" << index;
    EXPECT_EQ(value->type, platform::kRegSz);
    EXPECT_EQ(value->data, ProbeData(index)) << index;
  }
  ExpectCompleteLayout(home.Store(), kTemp, kProbeKey);
  EXPECT_EQ(StrayEntries(home), std::set<std::string>{});
  EXPECT_FALSE(fs::exists(fs::symlink_status(home.Temporary())));
}

}  // namespace
}  // namespace zelmora::testing
