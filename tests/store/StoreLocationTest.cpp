#include "platform/posix/StoreLocation.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <tuple>

#include "platform/NativePlatform.h"
#include "platform/common/Utf.h"
#include "platform/posix/ErrnoCodes.h"
#include "tests/support/StoreTestSupport.h"

namespace zelmora::platform {
namespace {

constexpr char kTail[] = "/zelmora/registry/HKEY_CURRENT_USER.reg";

// Sets (or, for null, unsets) environment variables for one test and puts them back after.
class Environment {
 public:
  ~Environment() {
    for (const auto& [name, value] : saved_) {
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
  }
  void Set(const std::string& name, const char* value) {
    if (!saved_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(StoreLocation, FollowsTheConfigurationFolderConventions) {
  const std::string databaseHome = getpwuid(geteuid())->pw_dir;
  const struct {
    const char* xdg;
    const char* home;
    std::string expected;
  } cases[] = {
      {"/x/config", "/home/u", "/x/config"},
      {"/x/config/", "/home/u", "/x/config"},
      {"relative/config", "/home/u", "/home/u/.config"},
      {"", "/home/u/", "/home/u/.config"},
      {nullptr, "/home/u", "/home/u/.config"},
      {nullptr, "", databaseHome + "/.config"},
      {nullptr, nullptr, databaseHome + "/.config"},
  };
  for (const auto& [xdg, home, expected] : cases) {
    Environment environment;
    environment.Set("XDG_CONFIG_HOME", xdg);
    environment.Set("HOME", home);
    environment.Set("USER", "someone-else");  // never consulted
    environment.Set("LOGNAME", "someone-else");
    EXPECT_EQ(CurrentUserStorePath(), expected + kTail)
        << (xdg ? xdg : "(unset)") << " " << (home ? home : "(unset)");
  }
}

TEST(StoreLocation, TheMachinesHiveIsInTheFirstAbsoluteConfigurationFolder) {
  const std::pair<const char*, std::string> cases[] = {
      {nullptr, "/etc/xdg"}, {"", "/etc/xdg"},    {"/a/b/:/c", "/a/b"},
      {"rel:/c/:/d", "/c"},  {"rel", "/etc/xdg"}, {"/", ""},
  };
  for (const auto& [dirs, expected] : cases) {
    Environment environment;
    environment.Set("XDG_CONFIG_DIRS", dirs);
    EXPECT_EQ(MachineStorePath(), expected + "/zelmora/registry/HKEY_LOCAL_MACHINE.reg")
        << (dirs ? dirs : "(unset)");
  }
}

TEST(PosixLanguage, TheFirstLocaleVariableSetGivesTheInterfaceLanguage) {
  // LC_ALL, LC_MESSAGES, LANG: the list as the call stores it, tag and NUL, then a NUL.
  const std::tuple<const char*, const char*, const char*, std::u16string> cases[] = {
      {nullptr, nullptr, "he_IL.UTF-8", std::u16string(u"he-IL\0\0", 7)},
      {"", "", "de_CH.ISO-8859-1@euro", std::u16string(u"de-CH\0\0", 7)},
      {"en_GB.UTF-8", "fr_FR", "he_IL", std::u16string(u"en-GB\0\0", 7)},
      {"", "fr", "he_IL", std::u16string(u"fr\0\0", 4)},
      {"C.UTF-8", "fr", "he", std::u16string(u"\0", 1)},
      {nullptr, "POSIX", "he", std::u16string(u"\0", 1)},
      {nullptr, nullptr, nullptr, std::u16string(u"\0", 1)},
  };
  for (const auto& [all, messages, lang, expected] : cases) {
    Environment environment;
    environment.Set("LC_ALL", all);
    environment.Set("LC_MESSAGES", messages);
    environment.Set("LANG", lang);
    char16_t list[16];
    DWORD count = 99, size = 16;
    ASSERT_TRUE(
        NativePlatform().GetUserPreferredUILanguages(kMuiLanguageName, &count, list, &size));
    EXPECT_EQ(std::u16string(list, size), expected) << (lang ? lang : "(unset)");
    EXPECT_EQ(count, expected.size() > 1 ? 1u : 0u);
  }
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
