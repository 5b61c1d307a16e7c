// What the hardening tests share: a scratch home for the tool, pictures of folders to compare
// before and after a run, and the tool's own writes to judge a store against.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/RunFixture.h"
#include "tests/support/StoreTestSupport.h"
#include "tests/support/ToolRun.h"

namespace zelmora::testing {

inline const std::string kTemp = "/tmp/zelmora hardening";

// A fresh home, removed at the end, whose store lives at config/zelmora/registry.
class ScratchHome {
 public:
  const std::filesystem::path& Home() const { return home_; }
  std::filesystem::path Config() const { return home_ / "config"; }
  std::filesystem::path Registry() const { return Config() / "zelmora" / "registry"; }
  std::filesystem::path Store() const { return Registry() / "HKEY_CURRENT_USER.reg"; }
  std::filesystem::path Lock() const { return Registry() / "HKEY_CURRENT_USER.reg.lock"; }
  std::filesystem::path Temporary() const { return Registry() / "HKEY_CURRENT_USER.reg.tmp"; }
  ToolOptions Options(const std::string& temp = kTemp) const;

 private:
  platform::testing::TempFolder folder_;
  std::filesystem::path home_{folder_.Path()};
};

// Every entry below folder by its relative path: its type and mode, and its bytes or link
// target. Nothing is followed.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& folder);

// The names whose entries differ between two pictures (contents stay out of failure messages:
// some run to megabytes).
std::set<std::string> Changed(const std::map<std::string, std::string>& before,
                              const std::map<std::string, std::string>& after);

// Runs the tool and expects it to fail cleanly -- "Installation Error", status 0, nothing on
// standard error -- leaving the home as it was. Only the lock file may appear: it is made before
// the store is looked at.
void ExpectRefusedAndUntouched(const ScratchHome& home, const ToolOptions& options,
                               const std::string& what);

// Names in the registry folder other than the store, its lock and its one temporary file.
std::set<std::string> StrayEntries(const ScratchHome& home);

// The tool's writes for a TEMP text, in the order it makes them, for an ordinary account.
std::vector<StoredValue> RunWrites(const std::string& temp);

// Whether a key path is one of the layout's keys or their parents.
bool IsLayoutKey(std::u16string_view path);

// What the first count of writes leave, as the store lists it.
std::vector<StoredValue> AfterWrites(const std::vector<StoredValue>& writes, std::size_t count);

// The k for which values are exactly what the first k writes leave, or nothing.
std::optional<std::size_t> WrittenPrefix(const std::vector<StoredValue>& values,
                                         const std::vector<StoredValue>& writes);

// A text for a failure message.
std::string Describe(const std::vector<StoredValue>& values);

// A complete store written by the tool for temp, taken from a run in a home of its own.
std::vector<std::uint8_t> StoreWrittenFor(const std::string& temp);

}  // namespace zelmora::testing
