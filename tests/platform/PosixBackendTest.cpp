// The POSIX back-end's calls for starting programs, writing and deleting files, the names and
// deleting keys, at their limits and from odd origins.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/common/CommandLine.h"
#include "platform/common/Utf.h"
#include "platform/common/VersionInfo.h"
#include "platform/posix/PosixPlatform.h"
#include "tests/support/StoreTestSupport.h"

// While set, the host name the system gives.
static std::string fakeHostName;

extern "C" int gethostname(char* name, size_t size) noexcept {
  using Lookup = int (*)(char*, size_t);
  static const auto next = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "gethostname"));
  const std::string& fake = fakeHostName;
  if (fake.empty()) return next(name, size);
  fake.copy(name, size);
  if (fake.size() < size) name[fake.size()] = '\0';
  return 0;
}

namespace zelmora::platform {
namespace {

using testing::FileBytes;
using testing::TempFolder;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

class PosixBackendTest : public ::testing::Test {
 protected:
  LONG Error() { return static_cast<LONG>(platform.GetLastError()); }
  HANDLE Open(const std::string& path) {
    return platform.CreateFileW(Utf8ToUtf16(path).c_str(), kGenericRead, kFileShareRead, nullptr,
                                kOpenExisting, kFileAttributeNormal, kNoHandle);
  }
  HANDLE Create(const std::string& path) {
    return platform.CreateFileW(Utf8ToUtf16(path).c_str(), kGenericWrite, 0, nullptr, kCreateAlways,
                                kFileAttributeNormal, kNoHandle);
  }
  // Starts the program file at path with the command line; the error code when it fails.
  LONG Start(const std::string& path, const std::u16string& line) {
    const HANDLE file = Open(path);
    if (file == kInvalidHandle) return Error();
    const BOOL started =
        platform.CreateProcessW(file, Utf8ToUtf16(path).c_str(), line.c_str(), &output, &process);
    const LONG error = started ? kErrorSuccess : Error();
    platform.CloseHandle(file);
    return error;
  }
  // A shell running script, started through the shell's own file.
  void Shell(const std::string& script) {
    ASSERT_EQ(Start("/bin/sh", u"sh -c " + QuoteArgument(Utf8ToUtf16(script))), kErrorSuccess);
  }
  std::string ReadToEnd() {
    std::string bytes;
    char buffer[4096];
    DWORD count = 0;
    while (platform.ReadFile(output, buffer, sizeof buffer, &count, nullptr) && count > 0)
      bytes.append(buffer, count);
    return bytes;
  }
  bool Ended(DWORD milliseconds = 10000) {
    return platform.WaitForSingleObject(process, milliseconds) == kWaitObject0;
  }
  DWORD ExitCode() {
    DWORD code = 0;
    EXPECT_TRUE(platform.GetExitCodeProcess(process, &code));
    return code;
  }
  void TearDown() override {
    if (output != kNoHandle) platform.CloseHandle(output);
    if (process != kNoHandle) platform.CloseHandle(process);
    output = process = kNoHandle;
  }

  PosixPlatform platform;
  TempFolder folder;
  HANDLE output = kNoHandle;
  HANDLE process = kNoHandle;
};

// A file that cannot be run fails the start with the code CreateProcess gives, leaves no
// descriptor open and no child behind.
TEST_F(PosixBackendTest, ProgramsThatCannotRunFailTheStartWithTheirCode) {
  const struct {
    const char* what;
    std::string content;
    mode_t mode;
    LONG error;
  } cases[] = {
      {"no format the system runs", "MZ\x90\x00 not for this system", 0755, kErrorBadExeFormat},
      {"an empty file", "", 0755, kErrorBadExeFormat},
      {"a script whose interpreter is missing", "#!/nonexistent/shell\n", 0755, kErrorBadExeFormat},
      {"no permission to execute", "#!/bin/sh\n", 0644, kErrorAccessDenied},
  };
  for (const auto& c : cases) {
    const std::string path = folder / "program";
    testing::WriteFileBytes(path, Bytes(c.content));
    chmod(path.c_str(), c.mode);
    const auto before = testing::FolderEntries("/proc/self/fd");
    EXPECT_EQ(Start(path, u"program"), c.error) << c.what;
    EXPECT_EQ(testing::FolderEntries("/proc/self/fd"), before) << c.what;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << c.what << ": a child was left";
  }
}

// What the program's name holds once it is open makes no difference: the version block and the
// start meet the file that was opened.
TEST_F(PosixBackendTest, TheVersionBlockAndTheStartMeetTheHeldFile) {
  const std::string tool = folder / "zelmora-setup";
  std::filesystem::copy_file(ZELMORA_TOOL, tool);
  const HANDLE held = Open(tool);
  ASSERT_NE(held, kInvalidHandle);
  testing::WriteFileBytes(folder / "other", Bytes("not a program"));
  std::filesystem::rename(folder / "other", tool);

  std::vector<std::uint8_t> block(64 * 1024);
  DWORD size = static_cast<DWORD>(block.size());
  ASSERT_TRUE(platform.GetFileVersionInfoW(held, u"ignored", &size, block.data()));
  EXPECT_EQ(VersionString(std::span(block.data(), size), u"ProductVersion"),
            ZELMORA_BUILD_IDENTITY_TEXT);
  const DWORD needed = size;
  size = needed - 1;
  EXPECT_FALSE(platform.GetFileVersionInfoW(held, u"ignored", &size, block.data()));
  EXPECT_EQ(Error(), kErrorInsufficientBuffer);
  EXPECT_EQ(size, needed);
  platform.CloseHandle(held);

  // A file without the block, and one that holds the block but is too large to be a program of
  // ours, which is not read.
  const std::string large = folder / "large";
  std::filesystem::copy_file(ZELMORA_TOOL, large);
  std::filesystem::resize_file(large, 65 * 1024 * 1024);
  for (const std::string& path : {tool, large}) {
    const HANDLE file = Open(path);
    size = static_cast<DWORD>(block.size());
    EXPECT_FALSE(platform.GetFileVersionInfoW(file, u"ignored", &size, block.data())) << path;
    EXPECT_EQ(Error(), kErrorBadExeFormat) << path;
    platform.CloseHandle(file);
  }

  const std::string program = folder / "program";
  std::filesystem::copy_file("/bin/true", program);
  const HANDLE heldProgram = Open(program);
  std::filesystem::copy_file("/bin/false", folder / "replacement");
  std::filesystem::rename(folder / "replacement", program);
  ASSERT_TRUE(platform.CreateProcessW(heldProgram, Utf8ToUtf16(program).c_str(), u"program",
                                      &output, &process));
  platform.CloseHandle(heldProgram);
  EXPECT_TRUE(Ended());
  EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(PosixBackendTest, OutputAndErrorShareOnePipeAndTheStatusIsTheProgramsOwn) {
  Shell("printf out; printf err >&2; printf ' and more'; exit 3");
  EXPECT_TRUE(Ended());
  EXPECT_EQ(ReadToEnd(), "outerr and more");
  EXPECT_EQ(ExitCode(), 3u);
}

TEST_F(PosixBackendTest, AProgramEndedBySignalGivesWhatShellsTell) {
  for (const auto& [signal, status] : {std::pair{"KILL", 137u}, std::pair{"TERM", 143u}}) {
    Shell(std::string("kill -") + signal + " $$");
    EXPECT_TRUE(Ended(kInfinite));
    EXPECT_EQ(ExitCode(), status) << signal;
    TearDown();
  }
}

TEST_F(PosixBackendTest, AProgramThatOutlivesTheWaitIsEndedWithTheStatusGiven) {
  Shell("exec sleep 60");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(platform.WaitForSingleObject(process, 300), kWaitTimeout);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(300));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(ExitCode(), 259u);  // still running
  ASSERT_TRUE(platform.TerminateProcess(process, 26));
  EXPECT_TRUE(Ended(0));
  EXPECT_EQ(ExitCode(), 26u);
  // Ended already: refused, as Windows refuses.
  EXPECT_FALSE(platform.TerminateProcess(process, 1));
  EXPECT_EQ(Error(), kErrorAccessDenied);
  EXPECT_EQ(ReadToEnd(), "");
}

// The pipe holds all the output of a program that nobody reads while it runs, so it ends.
TEST_F(PosixBackendTest, APipeHoldsSixtyFourKibibytesUnreadUntilItsEnd) {
  Shell("head -c 65536 /dev/zero");
  EXPECT_TRUE(Ended());
  EXPECT_EQ(ReadToEnd(), std::string(65536, '\0'));
  DWORD count = 1;
  char byte;
  EXPECT_TRUE(platform.ReadFile(output, &byte, 1, &count, nullptr));
  EXPECT_EQ(count, 0u);
}

TEST_F(PosixBackendTest, TheProgramGetsNoDescriptorOfTheCallersAndNothingToRead) {
  const int inheritable = open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(inheritable, 0);
  // The caller's own input has something to read, which the program must not get.
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(write(input[1], "the caller's\n", 13), 13);
  close(input[1]);
  const int savedInput = dup(STDIN_FILENO);
  dup2(input[0], STDIN_FILENO);
  // Each of the caller's descriptors is looked for in the program, by the shell alone.
  std::string open;
  for (const std::string& fd : testing::FolderEntries("/proc/self/fd")) {
    if (fd.size() > 1 || fd[0] > '2') open += " " + fd;
  }
  Shell("for fd in" + open + "; do [ -e /proc/$$/fd/$fd ] && echo leaked $fd; done; " +
        "readlink /proc/$$/fd/0; cat; echo end");
  dup2(savedInput, STDIN_FILENO);
  for (const int fd : {savedInput, input[0], inheritable}) close(fd);
  EXPECT_TRUE(Ended());
  EXPECT_EQ(ReadToEnd(), "/dev/null\nend\n");
}

TEST_F(PosixBackendTest, AFileWrittenAnewIsARegularFileOfItsOwnOrNothing) {
  const std::string target = folder / "target";
  testing::WriteFileBytes(target, Bytes("kept"));
  const std::string link = folder / "link";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  const std::string fifo = folder / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // so that a write could open it
  ASSERT_GE(reader, 0);
  const std::string lonelyFifo = folder / "lonely";  // no reader: a blocking open would hang
  ASSERT_EQ(mkfifo(lonelyFifo.c_str(), 0600), 0);
  const std::pair<std::string, LONG> refused[] = {
      {link, kErrorAccessDenied},
      {fifo, kErrorAccessDenied},
      {lonelyFifo, kErrorAccessDenied},
      {folder.Path(), kErrorAccessDenied},
      {folder / "missing/log", kErrorPathNotFound},
  };
  for (const auto& [path, error] : refused) {
    EXPECT_EQ(Create(path), kInvalidHandle) << path;
    EXPECT_EQ(Error(), error) << path;
  }
  EXPECT_EQ(FileBytes(target), Bytes("kept"));
  close(reader);

  const HANDLE file = Create(target);
  ASSERT_NE(file, kInvalidHandle);
  DWORD written = 0;
  EXPECT_TRUE(platform.WriteFile(file, "new", 3, &written, nullptr));
  EXPECT_TRUE(platform.CloseHandle(file));
  EXPECT_EQ(FileBytes(target), Bytes("new"));  // emptied first
  const mode_t previous = umask(002);
  const HANDLE fresh = Create(folder / "fresh");
  umask(previous);
  platform.CloseHandle(fresh);
  EXPECT_EQ(testing::ModeOf(folder / "fresh"), 0664u);
}

TEST_F(PosixBackendTest, ADeletedFileTellsAMissingFileFromAMissingFolder) {
  const std::string file = folder / "report.log";
  testing::WriteFileBytes(file, Bytes("x"));
  EXPECT_TRUE(platform.DeleteFileW(Utf8ToUtf16(file).c_str()));
  EXPECT_FALSE(std::filesystem::exists(file));
  const std::pair<std::string, LONG> refused[] = {
      {file, kErrorFileNotFound},
      {folder / "gone/report.log", kErrorPathNotFound},
      {folder.Path(), kErrorAccessDenied},
  };
  for (const auto& [path, error] : refused) {
    EXPECT_FALSE(platform.DeleteFileW(Utf8ToUtf16(path).c_str())) << path;
    EXPECT_EQ(Error(), error) << path;
  }
}

TEST_F(PosixBackendTest, NamesAreTheHostsFirstLabelAndTheUserBehindIt) {
  char16_t name[256];
  DWORD size = 256;
  ASSERT_TRUE(platform.GetUserNameW(name, &size));
  const std::u16string user(name, size - 1);
  for (const auto& [host, computer] : {std::pair{"ws-0142.corp.example", u"ws-0142"},
                                       std::pair{"plain", u"plain"}, std::pair{"a.", u"a"}}) {
    fakeHostName = host;
    size = 256;
    ASSERT_TRUE(platform.GetComputerNameW(name, &size)) << host;
    EXPECT_EQ(std::u16string(name, size), computer) << host;
    size = 256;
    ASSERT_TRUE(platform.GetUserNameExW(kNameSamCompatible, name, &size)) << host;
    EXPECT_EQ(std::u16string(name, size), computer + (u"\\" + user)) << host;
  }
  // Buffers one unit short: the units needed, with the NUL.
  fakeHostName = "ws-0142.corp";
  size = 7;
  EXPECT_FALSE(platform.GetComputerNameW(name, &size));
  EXPECT_EQ(Error(), kErrorBufferOverflow);
  EXPECT_EQ(size, 8u);
  size = static_cast<DWORD>(8 + user.size());
  EXPECT_FALSE(platform.GetUserNameExW(kNameSamCompatible, name, &size));
  EXPECT_EQ(Error(), kErrorMoreData);
  EXPECT_EQ(size, 9 + user.size());
  size = 256;
  EXPECT_FALSE(platform.GetUserNameExW(kNameSamCompatible + 1, name, &size));
  EXPECT_EQ(Error(), kErrorInvalidParameter);
  fakeHostName.clear();
}

TEST_F(PosixBackendTest, AKeyTreeDeletedIsGoneFromTheStoreAndAMissingOneChangesNothing) {
  testing::Environment environment;
  environment.Set("XDG_CONFIG_HOME", folder.Path().c_str());
  const std::string store = folder / "zelmora/registry/HKEY_CURRENT_USER.reg";
  {
    PosixPlatform writer;
    EXPECT_EQ(writer.RegDeleteTreeW(kHkeyCurrentUser, u"Software\\Quorvane"), kErrorFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(folder / "zelmora"));  // nothing made to tell it
    for (const char16_t* path : {u"Software\\Quorvane\\Zelmora\\Deep", u"Software\\Kept"}) {
      HKEY key = kNoKey;
      ASSERT_EQ(writer.RegCreateKeyExW(kHkeyCurrentUser, path, 0, nullptr, 0, kKeyAllAccess,
                                       nullptr, &key, nullptr),
                kErrorSuccess);
      const std::uint8_t one[] = {1, 0, 0, 0};
      ASSERT_EQ(writer.RegSetValueExW(key, u"v", 0, kRegDword, one, 4), kErrorSuccess);
      writer.RegCloseKey(key);
    }
    const auto before = FileBytes(store);
    EXPECT_EQ(writer.RegDeleteTreeW(kHkeyCurrentUser, u"software\\quorvane\\MISSING"),
              kErrorFileNotFound);
    EXPECT_EQ(writer.RegDeleteTreeW(kHkeyCurrentUser, u""), kErrorInvalidParameter);
    EXPECT_EQ(FileBytes(store), before);
    EXPECT_EQ(writer.RegDeleteTreeW(kHkeyCurrentUser, u"SOFTWARE\\quorvane"), kErrorSuccess);
  }
  // Another process reads the store afresh.
  PosixPlatform reader;
  DWORD size = 4;
  std::uint8_t data[4];
  EXPECT_EQ(reader.RegGetValueW(kHkeyCurrentUser, u"Software\\Quorvane\\Zelmora\\Deep", u"v",
                                kRrfRtAny, nullptr, data, &size),
            kErrorFileNotFound);
  EXPECT_EQ(reader.RegGetValueW(kHkeyCurrentUser, u"Software\\Kept", u"v", kRrfRtAny, nullptr, data,
                                &size),
            kErrorSuccess);
  EXPECT_EQ(reader.RegDeleteTreeW(kHkeyCurrentUser, u"Software\\Quorvane"), kErrorFileNotFound);
}

}  // namespace
}  // namespace zelmora::platform
