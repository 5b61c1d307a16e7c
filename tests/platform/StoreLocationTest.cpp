#include "platform/posix/StoreLocation.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "installer/WorkstationFacts.h"
#include "platform/NativePlatform.h"
#include "platform/common/Utf.h"
#include "platform/posix/ErrnoCodes.h"
#include "tests/support/StoreTestSupport.h"

namespace zelmora::platform {
namespace {

constexpr char kTail[] = "/zelmora/registry/HKEY_CURRENT_USER.reg";

// While set, the account's entry as a directory service may give it: the designated account,
// with a long comment and home folder, more than the first buffer of a lookup holds.
std::string longEntryHome;

}  // namespace
}  // namespace zelmora::platform

extern "C" int getpwuid_r(uid_t user, passwd* entry, char* buffer, size_t size, passwd** found) {
  using Lookup = int (*)(uid_t, passwd*, char*, size_t, passwd**);
  static const auto next = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getpwuid_r"));
  const std::string& home = zelmora::platform::longEntryHome;
  if (home.empty()) return next(user, entry, buffer, size, found);
  // The name, a comment of 20,000 characters, the home folder.
  const std::string strings = std::string("upsctrl\0", 8) + std::string(20000, 'c') + '\0' + home;
  *found = nullptr;
  if (strings.size() + 1 > size) return ERANGE;
  std::memcpy(buffer, strings.c_str(), strings.size() + 1);
  *entry = passwd{buffer, buffer + 7, user, 0, buffer + 8, buffer + 20009, buffer + 7};
  *found = entry;
  return 0;
}

namespace zelmora::platform {
namespace {

TEST(StoreLocation, FollowsTheConfigurationFolderConventions) {
  const std::string databaseHome = getpwuid(geteuid())->pw_dir;
  const std::string longHome = "/home/" + std::string(3000, 'h');
  const struct {
    const char* xdg;
    const char* home;
    std::string expected;
    bool longEntry = false;
  } cases[] = {
      {"/x/config", "/home/u", "/x/config"},
      {"/x/config/", "/home/u", "/x/config"},
      {"relative/config", "/home/u", "/home/u/.config"},
      {"", "/home/u/", "/home/u/.config"},
      {nullptr, "/home/u", "/home/u/.config"},
      {nullptr, "", databaseHome + "/.config"},
      {nullptr, nullptr, databaseHome + "/.config"},
      {nullptr, nullptr, longHome + "/.config", true},
  };
  // The account is the effective user's: as root, another real user (nobody's) must not count.
  const uid_t realUser = getuid();
  ASSERT_EQ(geteuid() == 0 ? setreuid(65534, -1) : 0, 0);
  for (const auto& [xdg, home, expected, longEntry] : cases) {
    longEntryHome = longEntry ? longHome : "";
    if (longEntry) {  // the name comes back whole, and the account rule applies to it
      ScopedSystem system(NativePlatform());
      EXPECT_TRUE(IsDesignatedAccount(CurrentUserName()));
    }
    testing::Environment environment;
    environment.Set("XDG_CONFIG_HOME", xdg);
    environment.Set("HOME", home);
    environment.Set("USER", "someone-else");  // never consulted
    environment.Set("LOGNAME", "someone-else");
    EXPECT_EQ(CurrentUserStorePath(), expected + kTail)
        << (xdg ? xdg : "(unset)") << " " << (home ? home : "(unset)");
  }
  longEntryHome.clear();
  EXPECT_EQ(setreuid(realUser, -1), 0);
}

TEST(PosixFiles, OnlyARegularFileOpensForReading) {
  testing::TempFolder folder;
  testing::WriteFileBytes(folder / "file", {'a', 'b', 'c'});
  mkfifo((folder / "fifo").c_str(), 0600);
  const std::pair<std::string, LONG> cases[] = {
      {"file", kErrorSuccess},         {"fifo", kErrorAccessDenied},   {".", kErrorAccessDenied},
      {"missing", kErrorFileNotFound}, {"file/x", kErrorPathNotFound},
  };
  Platform& platform = NativePlatform();
  for (const auto& [name, expected] : cases) {
    const HANDLE file =
        platform.CreateFileW(Utf8ToUtf16(folder / name).c_str(), kGenericRead, kFileShareRead,
                             nullptr, kOpenExisting, kFileAttributeNormal, kNoHandle);
    EXPECT_EQ(file == kInvalidHandle ? static_cast<LONG>(platform.GetLastError()) : kErrorSuccess,
              expected)
        << name;
    if (file != kInvalidHandle) platform.CloseHandle(file);
  }
}

TEST(ErrnoCodes, MapsEachErrnoToItsWindowsCode) {
  const std::pair<int, LONG> cases[] = {
      {ENOSPC, 112}, {EDQUOT, 112}, {EPIPE, 109}, {EBADF, 6},   {EACCES, 5},  {EPERM, 5},
      {ENOENT, 2},   {ENOTDIR, 3},  {EROFS, 19},  {EMFILE, 4},  {ENOMEM, 8},  {EFBIG, 223},
      {ELOOP, 5},    {EISDIR, 5},   {EIO, 1117},  {EINVAL, 31}, {EAGAIN, 31}, {0, 31},
  };
  for (const auto& [error, code] : cases) EXPECT_EQ(Win32ErrorFromErrno(error), code) << error;
}

}  // namespace
}  // namespace zelmora::platform
