#include "tests/hardening/HardeningSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "platform/common/Utf.h"

namespace zelmora::testing {

namespace fs = std::filesystem;

ToolOptions ScratchHome::Options(const std::string& temp) const {
  ToolOptions options;
  options.home = home_;
  options.configHome = Config();
  options.temp = temp;
  return options;
}

namespace {

void Picture(const fs::path& root, const fs::path& at, std::map<std::string, std::string>& out) {
  struct stat status {};
  if (lstat(at.c_str(), &status) != 0) return;
  std::ostringstream entry;
  entry << std::oct << (status.st_mode & 07777) << ' ';
  if (S_ISREG(status.st_mode)) {
    entry << "file " << ReadFile(at);
  } else if (S_ISLNK(status.st_mode)) {
    entry << "link " << fs::read_symlink(at).string();
  } else if (S_ISDIR(status.st_mode)) {
    entry << "folder";
    for (const auto& child : fs::directory_iterator(at)) Picture(root, child.path(), out);
  } else {
    entry << "other " << (status.st_mode & S_IFMT);
  }
  out[at.lexically_relative(root).string()] = entry.str();
}

}  // namespace

std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  Picture(folder, folder, entries);
  return entries;
}

std::set<std::string> Changed(const std::map<std::string, std::string>& before,
                              const std::map<std::string, std::string>& after) {
  std::set<std::string> names;
  for (const auto& [name, entry] : before) {
    if (!after.contains(name) || after.at(name) != entry) names.insert(name);
  }
  for (const auto& [name, entry] : after) {
    if (!before.contains(name)) names.insert(name);
  }
  return names;
}

void ExpectRefusedAndUntouched(const ScratchHome& home, const ToolOptions& options,
                               const std::string& what) {
  SCOPED_TRACE(what);
  const auto before = Snapshot(home.Home());
  const ToolResult result = RunningTool(options).Wait(std::chrono::seconds(20));
  EXPECT_FALSE(result.timedOut) << "the run hung";
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kInstallationError);
  EXPECT_EQ(result.err, "");
  auto after = Snapshot(home.Home());
  const std::string lock = home.Lock().lexically_relative(home.Home()).string();
  if (!before.contains(lock)) after.erase(lock);
  EXPECT_EQ(Changed(before, after), std::set<std::string>{});
}

std::set<std::string> StrayEntries(const ScratchHome& home) {
  std::set<std::string> stray;
  std::error_code missing;
  for (const auto& entry : fs::directory_iterator(home.Registry(), missing)) {
    if (entry.path() != home.Store() && entry.path() != home.Lock() &&
        entry.path() != home.Temporary()) {
      stray.insert(entry.path().filename().string());
    }
  }
  return stray;
}

std::vector<StoredValue> RunWrites(const std::string& temp) {
  std::vector<StoredValue> writes;
  for (const LayoutWrite& write : ExpectedWrites(platform::Utf8ToUtf16(temp), false)) {
    writes.push_back(write.value);
  }
  return writes;
}

bool IsLayoutKey(std::u16string_view path) {
  for (std::u16string_view key :
       {u"Software\\Quorvane\\Zelmora\\LocalParams", u"Software\\Quorvane\\Zelmora\\GlobalParams",
        u"Software\\Quorvane\\Zelmora\\Files"}) {
    if (key == path || (key.starts_with(path) && key[path.size()] == u'\\')) return true;
  }
  return false;
}

std::vector<StoredValue> AfterWrites(const std::vector<StoredValue>& writes, std::size_t count) {
  std::vector<LayoutWrite> prefix;
  for (std::size_t i = 0; i < count; ++i) prefix.push_back({0, writes[i]});
  return Apply(prefix);
}

std::optional<std::size_t> WrittenPrefix(const std::vector<StoredValue>& values,
                                         const std::vector<StoredValue>& writes) {
  for (std::size_t count = 0; count <= writes.size(); ++count) {
    if (AfterWrites(writes, count) == values) return count;
  }
  return std::nullopt;
}

std::string Describe(const std::vector<StoredValue>& values) {
  std::string text;
  for (const StoredValue& value : values) {
    text += platform::Utf16ToUtf8(value.key) + " : " + platform::Utf16ToUtf8(value.name) + "\n";
  }
  return text;
}

std::vector<std::uint8_t> StoreWrittenFor(const std::string& temp) {
  const ScratchHome home;
  const ToolResult result = RunTool(home.Options(temp));
  EXPECT_EQ(result.out, kInstalled);
  const std::string bytes = ReadFile(home.Store());
  return {bytes.begin(), bytes.end()};
}

}  // namespace zelmora::testing
