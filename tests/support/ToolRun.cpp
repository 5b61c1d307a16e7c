#include "tests/support/ToolRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/common/RegFileFormat.h"
#include "platform/common/Utf.h"
#include "tests/support/RunFixture.h"

extern char** environ;

namespace zelmora::testing {
namespace {

namespace fs = std::filesystem;

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> ChildEnvironment(const ToolOptions& options) {
  std::vector<std::string> set = options.environment;
  set.push_back("HOME=" + options.home.string());
  set.push_back("XDG_CONFIG_HOME=" + options.configHome.string());
  if (options.temp) set.push_back("TEMP=" + *options.temp);
  std::vector<std::string> names{"HOME", "XDG_CONFIG_HOME", "TEMP"};
  for (const std::string& entry : options.environment) names.push_back(NameOf(entry));
  // The machine's settings and the language of the messages are the test's, not this machine's:
  // the settings in the first absolute folder listed, after a relative one to be skipped.
  for (const std::string& entry :
       {"XDG_CONFIG_DIRS=xdg:" + (options.home / "xdg-dirs").string() + ":/etc/xdg",
        std::string("LANG=C"), std::string("LC_ALL="), std::string("LC_MESSAGES=")}) {
    if (std::find(names.begin(), names.end(), NameOf(entry)) != names.end()) continue;
    set.push_back(entry);
    names.push_back(NameOf(entry));
  }

  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::find(names.begin(), names.end(), NameOf(*entry)) == names.end()) {
      result.emplace_back(*entry);
    }
  }
  result.insert(result.end(), set.begin(), set.end());
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

RunningTool::RunningTool(const ToolOptions& options)
    : kind_(options.stdOut), outFile_(options.outFile) {
  std::string program = options.program.empty() ? ZELMORA_TOOL : options.program;
  std::vector<std::string> argumentTexts{program};
  argumentTexts.insert(argumentTexts.end(), options.arguments.begin(), options.arguments.end());
  std::vector<std::string> environmentTexts = ChildEnvironment(options);
  const std::vector<char*> argv = Pointers(argumentTexts);
  const std::vector<char*> envp = Pointers(environmentTexts);
  const std::string outFile = options.outFile.string();

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls from here on; the credentials are changed with the raw
    // system calls, which act on this one thread, the child's only one.
    if (options.account && (syscall(SYS_setgroups, 0, nullptr) != 0 ||
                            syscall(SYS_setgid, options.account->second) != 0 ||
                            syscall(SYS_setuid, options.account->first) != 0)) {
      _exit(126);
    }
    if (options.umask) umask(*options.umask);
    switch (options.stdErr) {
      case StdErrKind::Pipe:
      case StdErrKind::ReaderGone:
        dup2(errPipe[1], STDERR_FILENO);
        break;
      case StdErrKind::Closed:
        break;  // below, once no descriptor opened here can take its number
      case StdErrKind::DevFull:
        dup2(open("/dev/full", O_WRONLY), STDERR_FILENO);
        break;
    }
    switch (options.stdOut) {
      case StdOutKind::Pipe:
      case StdOutKind::ReaderGone:
        dup2(outPipe[1], STDOUT_FILENO);
        break;
      case StdOutKind::File:
        dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        break;
      case StdOutKind::Closed:
        close(STDOUT_FILENO);
        break;
      case StdOutKind::DevFull:
        dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
        break;
    }
    if (options.stdErr == StdErrKind::Closed) close(STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid_ < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    close(outPipe[0]);
    close(errPipe[0]);
    return;
  }
  if (options.stdErr == StdErrKind::ReaderGone) {
    close(errPipe[0]);
  } else {
    err_ = errPipe[0];
  }
  if (kind_ == StdOutKind::ReaderGone) {
    close(outPipe[0]);
  } else {
    out_ = outPipe[0];
  }
}

RunningTool::~RunningTool() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

void RunningTool::Kill() {
  if (pid_ > 0) kill(pid_, SIGKILL);
}

ToolResult RunningTool::Wait(std::chrono::milliseconds limit) {
  ToolResult result;
  if (pid_ <= 0) return result;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string* texts[] = {&result.out, &result.err};
  int* fds[] = {&out_, &err_};
  while (out_ >= 0 || err_ >= 0) {
    pollfd polled[2];
    for (int i = 0; i < 2; ++i) polled[i] = {*fds[i], POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!result.timedOut && left.count() <= 0) {
      result.timedOut = true;
      Kill();
    }
    if (poll(polled, 2, result.timedOut ? -1 : static_cast<int>(left.count()) + 1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (polled[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t count = read(*fds[i], buffer, sizeof buffer);
      if (count > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        close(*fds[i]);
        *fds[i] = -1;
      }
    }
  }
  // A child that closed its streams may still not end: the limit holds here too.
  int status = 0;
  for (;;) {
    const pid_t ended = waitpid(pid_, &status, result.timedOut ? 0 : WNOHANG);
    if (ended == pid_ || (ended < 0 && errno != EINTR)) break;
    if (ended == 0 && std::chrono::steady_clock::now() >= deadline) {
      result.timedOut = true;
      Kill();
    } else if (ended == 0) {
      usleep(1000);
    }
  }
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  if (kind_ == StdOutKind::File) result.out = ReadFile(outFile_);
  return result;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::optional<platform::RegistryTree> ReadStore(const fs::path& store) {
  if (!fs::is_regular_file(fs::symlink_status(store))) return std::nullopt;
  const std::string bytes = ReadFile(store);
  return platform::ParseRegFile(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                u"HKEY_CURRENT_USER");
}

void ExpectCompleteLayout(const fs::path& store, const std::string& temp,
                          std::u16string_view otherKey) {
  const auto tree = ReadStore(store);
  ASSERT_TRUE(tree.has_value()) << store;
  std::vector<StoredValue> values = Contents(*tree);
  if (!otherKey.empty()) {
    std::erase_if(values, [&](const StoredValue& value) { return value.key == otherKey; });
  }
  EXPECT_EQ(values, Apply(ExpectedWrites(platform::Utf8ToUtf16(temp), false)));
}

}  // namespace zelmora::testing
