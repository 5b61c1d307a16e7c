#include "platform/posix/FileKeyStore.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/common/RegFileFormat.h"
#include "platform/common/Utf.h"
#include "tests/support/StoreTestSupport.h"

namespace zelmora::platform {
namespace {

using testing::FileBytes;
using testing::FolderEntries;
using testing::ListTree;
using testing::ModeOf;
using testing::TempFolder;
using testing::WriteFileBytes;

constexpr char16_t kRoot[] = u"HKEY_CURRENT_USER";

// One store instance with the registry calls on top, as a process of the tool has them.
struct Session {
  explicit Session(const std::string& path) : store(path, kRoot) {}

  LONG Write(const std::u16string& name, DWORD number = 1) {
    HKEY key = kNoKey;
    LONG result = calls.CreateKey(kHkeyCurrentUser, u"Software\\Test", &key, nullptr);
    if (result != kErrorSuccess) return result;
    const auto data = DwordLeBytes(number);
    result = calls.SetValue(key, name.c_str(), kRegDword, data.data(), 4);
    calls.CloseKey(key);
    return result;
  }
  // Values of the test key, as this instance sees the store; none when it cannot read it.
  std::vector<std::u16string> Names() {
    std::vector<std::u16string> names;
    const LONG read = store.Read([&](const RegistryTree& tree) {
      if (const RegistryKey* key = tree.FindKey(u"Software\\Test")) {
        for (const RegistryValue& value : key->Values()) names.push_back(value.name);
      }
      return kErrorSuccess;
    });
    if (read != kErrorSuccess) names.clear();
    return names;
  }
  bool Has(const std::u16string& name) {
    const auto names = Names();
    return std::any_of(names.begin(), names.end(),
                       [&](auto& other) { return SameName(name, other); });
  }

  FileKeyStore store;
  RegistryCalls calls{store, kHkeyCurrentUser};
};

// The file of a store whose test key holds one value, the 1 that Session::Write stores.
std::vector<std::uint8_t> FileHolding(const std::u16string& name) {
  RegistryTree tree;
  tree.Root()
      .SubkeyCreatingMissing(u"Software", nullptr)
      .SubkeyCreatingMissing(u"Test", nullptr)
      .SetValue(name, kRegDword, {1, 0, 0, 0});
  return FormatRegFile(tree, kRoot);
}

// Distinct names of one length, so that files written with them differ only in content.
std::u16string Name(int i) {
  std::u16string name = u"value0000";
  for (std::size_t pos = name.size() - 1; i > 0; --pos, i /= 10) name[pos] = u'0' + i % 10;
  return name;
}

TEST(FileKeyStore, KeepsWritesAcrossInstancesInTheExportFormat) {
  TempFolder folder;
  const std::string path = folder / "hive.reg";
  {
    Session first(path);
    ASSERT_TRUE(first.Has(u"none") == false && FolderEntries(folder.Path()).empty());
    ASSERT_EQ(first.Write(u"Station"), kErrorSuccess);
  }
  Session second(path);
  EXPECT_TRUE(second.Has(u"station"));
  EXPECT_EQ(FileBytes(path), FileHolding(u"Station"));
  EXPECT_EQ(FolderEntries(folder.Path()), (std::set<std::string>{"hive.reg", "hive.reg.lock"}));
}

TEST(FileKeyStore, MakesPrivateFoldersAndFilesWhateverTheUmask) {
  for (const mode_t mask : {mode_t{0}, mode_t{077}, mode_t{0277}}) {
    TempFolder folder;
    chmod(folder.Path().c_str(), 0755);
    const mode_t previous = umask(mask);
    Session session(folder / "home/.config/zelmora/registry/hive.reg");
    const LONG result = session.Write(u"v");
    umask(previous);
    ASSERT_EQ(result, kErrorSuccess) << "umask " << mask;
    EXPECT_EQ(ModeOf(folder.Path()), 0755u);  // existing folders are left alone
    for (const char* made :
         {"home", "home/.config", "home/.config/zelmora", "home/.config/zelmora/registry"}) {
      EXPECT_EQ(ModeOf(folder / made), 0700u) << made << " under umask " << mask;
    }
    EXPECT_EQ(ModeOf(folder / "home/.config/zelmora/registry/hive.reg"), 0600u);
    EXPECT_EQ(ModeOf(folder / "home/.config/zelmora/registry/hive.reg.lock"), 0600u);
  }
}

TEST(FileKeyStore, NeverOverwritesAStoreItCannotRead) {
  TempFolder folder;
  const std::string path = folder / "hive.reg";
  const std::vector<std::uint8_t> valid = testing::Utf16LeFile(
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n");
  const std::vector<std::uint8_t> garbage{'n', 'o', 't', ' ', 'a', ' ', 'h', 'i', 'v', 'e'};
  const struct {
    const char* what;
    std::function<void()> make;
    LONG expected;
  } cases[] = {
      {"corrupt", [&] { WriteFileBytes(path, garbage); }, kErrorRegistryCorrupt},
      {"truncated",
       [&] {
         WriteFileBytes(path, {valid.begin(), valid.end() - 3});
       },
       kErrorRegistryCorrupt},
      {"folder", [&] { mkdir(path.c_str(), 0700); }, kErrorAccessDenied},
      {"link",
       [&] {
         WriteFileBytes(folder / "target", valid);
         symlink("target", path.c_str());
       },
       kErrorAccessDenied},
      {"unreadable",
       [&] {
         WriteFileBytes(path, valid);
         chmod(path.c_str(), 0);
       },
       kErrorAccessDenied},
  };
  for (const auto& [what, make, expected] : cases) {
    if (geteuid() == 0 && std::string(what) == "unreadable") continue;  // root reads it anyway
    std::filesystem::remove_all(path);
    std::filesystem::remove(folder / "target");
    make();
    const auto bytes = FileBytes(path);
    const auto target = FileBytes(folder / "target");
    Session session(path);
    EXPECT_EQ(session.Write(u"v"), expected) << what;
    EXPECT_FALSE(session.Has(u"v")) << what;
    EXPECT_EQ(FileBytes(path), bytes) << what;
    EXPECT_EQ(FileBytes(folder / "target"), target) << what;
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp")) << what;
  }
  std::filesystem::remove_all(path);
  EXPECT_EQ(Session(path).Write(u"v"), kErrorSuccess);  // and works again once it is fixed
}

TEST(FileKeyStore, SeesAndKeepsWhatOtherInstancesWrote) {
  TempFolder folder;
  const std::string path = folder / "hive.reg";
  Session a(path), b(path);
  for (int i = 0; i < 40; i += 2) {
    ASSERT_EQ(a.Write(Name(i)), kErrorSuccess);
    ASSERT_EQ(b.Write(Name(i + 1)), kErrorSuccess);  // same size each time: only identity tells
    ASSERT_TRUE(a.Has(Name(i + 1))) << i;
  }
  EXPECT_EQ(a.Names().size(), 40u);

  // Edited in place with the same size and the old modification time: the ctime still tells.
  const auto before = FileBytes(path);
  struct stat status {};
  stat(path.c_str(), &status);
  auto edited = before;
  std::vector<std::uint8_t> renamed = Utf16LeBytes(u"\"" + Name(0) + u"\"=dword:00000001");
  std::vector<std::uint8_t> replaced = Utf16LeBytes(u"\"" + Name(0) + u"\"=dword:00000007");
  const auto at = std::search(edited.begin(), edited.end(), renamed.begin(), renamed.end());
  ASSERT_NE(at, edited.end());
  std::copy(replaced.begin(), replaced.end(), at);
  WriteFileBytes(path, edited);
  const timespec times[2] = {status.st_atim, status.st_mtim};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
  std::uint8_t seen = 0;
  const LONG read = a.store.Read([&](const RegistryTree& tree) {
    seen = tree.FindKey(u"Software\\Test")->FindValue(Name(0))->data[0];
    return kErrorSuccess;
  });
  EXPECT_EQ(read, kErrorSuccess);
  EXPECT_EQ(seen, 7);

  // A key removed from the file under an open handle.
  HKEY key = kNoKey;
  ASSERT_EQ(a.calls.OpenKey(kHkeyCurrentUser, u"Software\\Test", &key), kErrorSuccess);
  RegistryTree other;
  other.Root().SubkeyCreatingMissing(u"Else", nullptr);
  WriteFileBytes(path, FormatRegFile(other, kRoot));
  const std::uint8_t one[4] = {1, 0, 0, 0};
  EXPECT_EQ(a.calls.SetValue(key, u"late", kRegDword, one, 4), kErrorKeyDeleted);
  EXPECT_EQ(FileBytes(path), FormatRegFile(other, kRoot));

  // The file deleted while this instance has it loaded: what it held does not come back.
  std::filesystem::remove(path);
  EXPECT_TRUE(a.Names().empty());
  ASSERT_EQ(a.Write(u"afterDeletion"), kErrorSuccess);
  std::filesystem::remove(path);
  ASSERT_EQ(a.Write(u"afterDeletion"), kErrorSuccess);  // the same value again: still written
  EXPECT_EQ(FileBytes(path), FileHolding(u"afterDeletion"));
}

TEST(FileKeyStore, AWriteThatChangesNothingLeavesTheFileAlone) {
  TempFolder folder;
  const std::string path = folder / "hive.reg";
  Session first(path);
  ASSERT_EQ(first.Write(u"Station", 1), kErrorSuccess);
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  Session second(path);
  for (Session* session : {&first, &second, &first}) {
    EXPECT_EQ(session->Write(u"Station", 1), kErrorSuccess);
    EXPECT_EQ(session->Write(u"station", 1), kErrorSuccess);  // names match in any case
  }
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
  EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
  EXPECT_EQ(second.Write(u"Station", 2), kErrorSuccess);  // a real change is written
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);
}

TEST(FileKeyStore, ConcurrentProcessesLoseNoWrite) {
  TempFolder folder;
  const std::string path = folder / "hive.reg";
  constexpr int kPerProcess = 150;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      Session session(path);
      int failures = 0;
      for (int i = 0; i < kPerProcess; ++i)
        failures += session.Write(Name(c * kPerProcess + i)) != 0;
      _exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Session(path).Names().size(), 2u * kPerProcess);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(FileKeyStore, AKilledWriterLeavesACompleteStoreWithEveryFinishedWrite) {
  TempFolder folder;
  const std::string path = folder / "hive.reg";
  int checked = 0;  // rounds killed after some writes
  for (int round = 0; round < 6; ++round) {
    std::filesystem::remove(path);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Session session(path);
      for (int i = 0; i < 2000; ++i) session.Write(Name(i));
      _exit(0);
    }
    usleep(2000 + round * 7000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    if (!std::filesystem::exists(path)) continue;  // killed before its first write
    const auto tree = ParseRegFile(FileBytes(path), kRoot);
    ASSERT_TRUE(tree.has_value()) << "round " << round;
    const RegistryKey* key = tree->FindKey(u"Software\\Test");
    const std::size_t count = key != nullptr ? key->Values().size() : 0;
    checked += count > 0;
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(key->Values()[i].name, Name(int(i)));
    // The next writer clears a temporary file the killed one may have left.
    EXPECT_EQ(Session(path).Write(u"after"), kErrorSuccess);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  }
  EXPECT_GT(checked, 0);
}

// Makes every write of a new, larger file fail with the expected code, and checks that file and
// cache are unchanged and that the failed value and key do not reappear later.
void ExpectFailedWriteChangesNothing(Session& session, const std::string& path,
                                     const std::function<void()>& breakWrites,
                                     const std::function<void()>& repair, LONG expected) {
  ASSERT_EQ(session.Write(u"before"), kErrorSuccess);
  const auto bytes = FileBytes(path);
  breakWrites();
  HKEY key = kNoKey;
  EXPECT_EQ(session.Write(u"failed" + std::u16string(300, u'x')), expected);
  EXPECT_EQ(session.calls.CreateKey(kHkeyCurrentUser, u"Never\\Created", &key, nullptr), expected);
  repair();
  EXPECT_EQ(FileBytes(path), bytes);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  EXPECT_EQ(session.Names().size(), 1u);
  EXPECT_EQ(session.calls.OpenKey(kHkeyCurrentUser, u"Never", &key), kErrorFileNotFound);
  ASSERT_EQ(session.Write(u"after"), kErrorSuccess);
  EXPECT_EQ(Session(path).Names().size(), 2u);
}

TEST(FileKeyStore, AFailedWriteLeavesFileAndCacheAsTheyWere) {
  TempFolder folder;
  const std::string path = folder / "hive.reg";
  Session session(path);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  ExpectFailedWriteChangesNothing(
      session, path,
      [&] {
        rlimit small = saved;
        small.rlim_cur = std::filesystem::file_size(path);
        setrlimit(RLIMIT_FSIZE, &small);
      },
      [&] { setrlimit(RLIMIT_FSIZE, &saved); }, kErrorFileTooLarge);
  signal(SIGXFSZ, oldHandler);
}

TEST(FileKeyStore, AFullDiskFailsTheWriteCleanly) {
  TempFolder folder;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A private mount of a tiny file system, so that nothing outside this process sees it.
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", folder.Path().c_str(), "tmpfs", 0, "size=16k") != 0) {
      _exit(77);
    }
    const std::string path = folder / "hive.reg";
    Session session(path);
    const std::string filler = folder / "filler";
    ExpectFailedWriteChangesNothing(
        session, path, [&] { WriteFileBytes(filler, std::vector<std::uint8_t>(64 * 1024)); },
        [&] { std::filesystem::remove(filler); }, kErrorDiskFull);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot mount a tmpfs here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(FileKeyStore, AReadOnlyFolderFailsTheWriteCleanly) {
  if (geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
  TempFolder folder;
  const std::string path = folder / "hive.reg";
  Session session(path);
  ExpectFailedWriteChangesNothing(
      session, path, [&] { chmod(folder.Path().c_str(), 0500); },
      [&] { chmod(folder.Path().c_str(), 0700); }, kErrorAccessDenied);
}

}  // namespace
}  // namespace zelmora::platform
