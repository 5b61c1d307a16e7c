// Starting a program with its output in a pipe, waiting for it and ending it, on POSIX. The
// program is the very file the caller holds open (fexecve), whatever its name now holds; it gets
// the caller's environment and folder, /dev/null as input and one pipe as output and error, and
// no other descriptor of the caller's.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/common/CommandLine.h"
#include "platform/common/Utf.h"
#include "platform/posix/ErrnoCodes.h"
#include "platform/posix/PosixPlatform.h"
#include "platform/posix/ProcessTable.h"
#include "platform/posix/StoreFiles.h"

extern char** environ;

namespace zelmora::platform {
namespace {

constexpr int kPipeCapacity = 64 * 1024;
// The status a child reports when it could not execute the program (the parent learns why from
// the error pipe, so this is never taken for the program's own).
constexpr int kExecFailedStatus = 127;

// Why a program could not be executed, as CreateProcess tells it.
LONG ExecError(int error) {
  switch (error) {
    case ENOEXEC:  // no format the system runs
    case ENOENT:   // a script whose interpreter is missing, or that cannot reach its own file
    case ELIBBAD:
    case ETXTBSY:
      return kErrorBadExeFormat;
    case E2BIG:
      return kErrorInvalidParameter;
    default:
      return Win32ErrorFromErrno(error);
  }
}

// Closes every descriptor from first on but the two kept; only what is safe after a fork.
void CloseDescriptorsBut(int first, int keepA, int keepB, int limit) {
  if (keepA > keepB) std::swap(keepA, keepB);
  const auto closeRange = [limit](int from, int to) {  // both included
    if (from > to) return;
#ifdef __NR_close_range
    if (syscall(__NR_close_range, static_cast<unsigned>(from), static_cast<unsigned>(to), 0) == 0) {
      return;
    }
#endif
    for (int fd = from; fd <= to && fd < limit; ++fd) close(fd);
  };
  closeRange(first, keepA - 1);
  closeRange(keepA + 1, keepB - 1);
  closeRange(keepB + 1, std::numeric_limits<int>::max());
}

// A descriptor among the standard three (the caller may have been started without them) is
// moved above them, so that setting up the child's streams cannot overwrite it.
int AboveStandardStreams(int fd) {
  return fd > STDERR_FILENO ? fd : fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
}

[[noreturn]] void RunChild(int program, int output, int input, int errorPipe, char* const* argv,
                           int descriptorLimit) {
  // Signals as a fresh program has them: the caller ignores SIGPIPE, which an exec would keep.
  struct sigaction fresh {};
  fresh.sa_handler = SIG_DFL;
  sigemptyset(&fresh.sa_mask);
  sigaction(SIGPIPE, &fresh, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  program = AboveStandardStreams(program);
  output = AboveStandardStreams(output);
  input = AboveStandardStreams(input);
  errorPipe = AboveStandardStreams(errorPipe);
  int error = 0;
  if (program < 0 || output < 0 || input < 0 || errorPipe < 0) {
    error = errno;
  } else if (dup2(input, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0 ||
             dup2(output, STDERR_FILENO) < 0) {
    error = errno;
  }
  if (error == 0) {
    CloseDescriptorsBut(STDERR_FILENO + 1, program, errorPipe, descriptorLimit);
    fexecve(program, argv, environ);
    error = errno;
  }
  // Told to the parent through the pipe that the exec would have closed.
  while (errorPipe >= 0 && write(errorPipe, &error, sizeof error) < 0 && errno == EINTR) {
  }
  _exit(kExecFailedStatus);
}

}  // namespace

ChildProcess* PosixPlatform::FindProcess(HANDLE handle) {
  if (!processes_) return nullptr;
  const auto found = processes_->children.find(static_cast<std::uintptr_t>(handle));
  return found == processes_->children.end() ? nullptr : &found->second;
}

BOOL PosixPlatform::CreateProcessW(HANDLE programFile, const char16_t* applicationName,
                                   const char16_t* commandLine, HANDLE* output, HANDLE* process) {
  const int program = DescriptorOfHandle(programFile);
  struct stat status {};
  if (program < 0 || applicationName == nullptr || commandLine == nullptr || output == nullptr ||
      process == nullptr) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  if (fstat(program, &status) != 0 || !S_ISREG(status.st_mode)) {
    Fail(kErrorInvalidHandle);
    return 0;
  }
  // Everything the child needs is made before the fork, which allocates nothing after it.
  std::vector<std::string> arguments;
  for (const std::u16string& argument : SplitCommandLine(commandLine)) {
    arguments.push_back(Utf16ToUtf8(argument));
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  if (!processes_) processes_ = std::make_unique<ProcessTable>();

  int outputPipe[2];
  int errorPipe[2];
  if (pipe2(outputPipe, O_CLOEXEC) != 0) {
    Fail(Win32ErrorFromErrno(errno));
    return 0;
  }
  UniqueFd outputRead(outputPipe[0]);
  UniqueFd outputWrite(outputPipe[1]);
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    Fail(Win32ErrorFromErrno(errno));
    return 0;
  }
  UniqueFd errorRead(errorPipe[0]);
  UniqueFd errorWrite(errorPipe[1]);
  UniqueFd input(open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!input.Valid()) {
    Fail(Win32ErrorFromErrno(errno));
    return 0;
  }
#ifdef F_SETPIPE_SZ
  // Linux's pipes hold 64 KiB already; asked for in case the system's default is smaller.
  if (fcntl(outputWrite.Get(), F_GETPIPE_SZ) < kPipeCapacity) {
    fcntl(outputWrite.Get(), F_SETPIPE_SZ, kPipeCapacity);
  }
#endif
  rlimit limit{};
  const int descriptorLimit =
      getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
          ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20))
          : 1 << 20;

  const pid_t pid = fork();
  if (pid < 0) {
    Fail(Win32ErrorFromErrno(errno));
    return 0;
  }
  if (pid == 0) {
    RunChild(program, outputWrite.Get(), input.Get(), errorWrite.Get(), argv.data(),
             descriptorLimit);
  }
  outputWrite.Reset();
  errorWrite.Reset();
  input.Reset();

  int execError = 0;
  ssize_t count;
  do {
    count = read(errorRead.Get(), &execError, sizeof execError);
  } while (count < 0 && errno == EINTR);
  if (count != 0) {
    // The exec failed, and the child ends at once; or the pipe failed, and it is ended.
    if (count < 0) kill(pid, SIGKILL);
    int ignored = 0;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
    Fail(count == sizeof execError ? ExecError(execError) : kErrorGenFailure);
    return 0;
  }
  const std::uintptr_t handle = processes_->next++;
  processes_->children[handle].pid = pid;
  *output = HandleOfDescriptor(outputRead.Release());
  *process = static_cast<HANDLE>(handle);
  return 1;
}

// Reaps the program when it has ended (or, with block, once it ends). Returns false on failure.
bool PosixPlatform::Reap(ChildProcess& entry, bool block, bool& ended) {
  ended = entry.reaped;
  if (entry.reaped) return true;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(entry.pid, &status, block ? 0 : WNOHANG);
    if (done == entry.pid) {
      entry.reaped = true;
      entry.status = status;
      ended = true;
      return true;
    }
    if (done == 0) return true;
    if (errno != EINTR) {
      Fail(Win32ErrorFromErrno(errno));
      return false;
    }
  }
}

DWORD PosixPlatform::WaitForSingleObject(HANDLE process, DWORD milliseconds) {
  ChildProcess* entry = FindProcess(process);
  if (entry == nullptr) {
    Fail(kErrorInvalidHandle);
    return kWaitFailed;
  }
  bool ended = false;
  if (milliseconds == kInfinite) {
    return Reap(*entry, true, ended) ? kWaitObject0 : kWaitFailed;
  }
  // Polled, with pauses that grow from a tenth of a millisecond to ten, so that a short program
  // is seen to end at once and a long wait costs little.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::chrono::nanoseconds pause = std::chrono::microseconds(100);
  for (;;) {
    if (!Reap(*entry, false, ended)) return kWaitFailed;
    if (ended) return kWaitObject0;
    const Clock::duration left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return kWaitTimeout;
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, left));
    pause = std::min<std::chrono::nanoseconds>(pause * 2, std::chrono::milliseconds(10));
  }
}

BOOL PosixPlatform::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  ChildProcess* entry = FindProcess(process);
  bool ended = false;
  if (entry == nullptr || exitCode == nullptr) {
    Fail(entry == nullptr ? kErrorInvalidHandle : kErrorInvalidParameter);
    return 0;
  }
  if (!Reap(*entry, false, ended)) return 0;
  constexpr DWORD kStillActive = 259;  // as Windows tells a program that still runs
  if (!ended) {
    *exitCode = kStillActive;
  } else if (entry->terminatedWith) {
    *exitCode = *entry->terminatedWith;
  } else if (WIFSIGNALED(entry->status)) {
    *exitCode = 128 + static_cast<DWORD>(WTERMSIG(entry->status));
  } else {
    *exitCode = static_cast<DWORD>(WEXITSTATUS(entry->status));
  }
  return 1;
}

BOOL PosixPlatform::TerminateProcess(HANDLE process, UINT exitCode) {
  ChildProcess* entry = FindProcess(process);
  bool ended = false;
  if (entry == nullptr) {
    Fail(kErrorInvalidHandle);
    return 0;
  }
  if (!Reap(*entry, false, ended)) return 0;
  if (ended) {
    Fail(kErrorAccessDenied);  // as Windows answers for a program that has ended
    return 0;
  }
  if (kill(entry->pid, SIGKILL) != 0) {
    Fail(Win32ErrorFromErrno(errno));
    return 0;
  }
  entry->terminatedWith = exitCode;
  return Reap(*entry, true, ended) ? 1 : 0;
}

bool PosixPlatform::CloseProcessHandle(HANDLE handle) {
  ChildProcess* entry = FindProcess(handle);
  if (entry == nullptr) return false;
  // A program that has ended is reaped now; one that still runs goes on, as on Windows.
  bool ended = false;
  Reap(*entry, false, ended);
  processes_->children.erase(static_cast<std::uintptr_t>(handle));
  return true;
}

}  // namespace zelmora::platform
