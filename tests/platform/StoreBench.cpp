// Times the registry work of one run of the tool (4 key creations and 60 value writes through
// the file store) against a fresh store and against existing stores of about 1 MB and 10 MB.
// Each run starts from a new store instance, as a new process would, on a restored file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/common/RegFileFormat.h"
#include "platform/posix/FileKeyStore.h"
#include "tests/support/StoreTestSupport.h"

namespace zelmora::platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr char16_t kRoot[] = u"HKEY_CURRENT_USER";

std::u16string Numbered(std::u16string_view prefix, int number) {
  std::u16string text(prefix);
  for (char c : std::to_string(number)) text.push_back(static_cast<char16_t>(c));
  return text;
}

// values spread over keys of 100 values each, below a key the run does not touch.
std::vector<std::uint8_t> ExistingStore(int values) {
  RegistryTree tree;
  RegistryKey& other = tree.Root().SubkeyCreatingMissing(u"Other", nullptr);
  for (int i = 0; i < values; ++i) {
    RegistryKey& key = other.SubkeyCreatingMissing(Numbered(u"Key", i / 100), nullptr);
    key.SetValue(Numbered(u"Value", i), kRegSz,
                 testing::StringValue(Numbered(u"some setting text of a typical length ", i)));
  }
  return FormatRegFile(tree, kRoot);
}

LONG Check(LONG result) {
  if (result != kErrorSuccess) {
    std::fprintf(stderr, "registry call failed: %d\n", result);
    std::exit(1);
  }
  return result;
}

// The run's registry work: keys opened as the installer opens them, about 60 values written.
double RunMilliseconds(const std::string& path) {
  const auto start = Clock::now();
  FileKeyStore store(path, kRoot);
  RegistryCalls calls(store, kHkeyCurrentUser);
  const struct {
    const char16_t* key;
    int values;
  } stages[] = {{u"Software\\Quorvane\\Zelmora\\LocalParams", 1},
                {u"Software\\Quorvane\\Zelmora\\GlobalParams", 8},
                {u"Software\\Quorvane\\Zelmora\\LocalParams", 50},
                {u"Software\\Quorvane\\Zelmora\\Files", 1}};
  for (const auto& stage : stages) {
    HKEY key = kNoKey;
    Check(calls.CreateKey(kHkeyCurrentUser, stage.key, &key, nullptr));
    for (int i = 0; i < stage.values; ++i) {
      const auto data = testing::StringValue(Numbered(u"\\\\server\\ZELMODAT\\DATA\\", i));
      Check(calls.SetValue(key, Numbered(u"Setting", i).c_str(), kRegSz, data.data(),
                           static_cast<DWORD>(data.size())));
    }
    calls.CloseKey(key);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Measure(const char* label, const std::vector<std::uint8_t>& initial, int runs) {
  testing::TempFolder folder;
  const std::string path = folder / "registry/HKEY_CURRENT_USER.reg";
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    std::filesystem::remove_all(folder / "registry");
    if (!initial.empty()) {
      std::filesystem::create_directory(folder / "registry");
      testing::WriteFileBytes(path, initial);
    }
    times.push_back(RunMilliseconds(path));
  }
  std::sort(times.begin(), times.end());
  std::printf("%-28s %8.1f KB  median %8.2f ms  min %8.2f ms  max %8.2f ms  (%d runs)\n", label,
              initial.size() / 1024.0, times[times.size() / 2], times.front(), times.back(), runs);
}

}  // namespace
}  // namespace zelmora::platform

// Optional argument: "fresh", "1mb" or "10mb" to time one case only (for profiling).
int main(int argc, char** argv) {
  using namespace zelmora::platform;
  const std::string only = argc > 1 ? argv[1] : "";
  if (only.empty() || only == "fresh") Measure("fresh store", {}, 31);
  if (only.empty() || only == "1mb") Measure("existing, 10,000 values", ExistingStore(10'000), 11);
  if (only.empty() || only == "10mb")
    Measure("existing, 100,000 values", ExistingStore(100'000), 7);
  return 0;
}
