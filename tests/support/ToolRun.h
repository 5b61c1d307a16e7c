// The built tool (or another test program) run as a real child process: its environment, its
// streams captured, its exit status, and the store it leaves behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/common/RegistryTree.h"

namespace zelmora::testing {

enum class StdOutKind { Pipe, File, Closed, DevFull, ReaderGone };
enum class StdErrKind { Pipe, Closed, DevFull, ReaderGone };

struct ToolOptions {
  std::filesystem::path home;        // HOME
  std::filesystem::path configHome;  // XDG_CONFIG_HOME
  std::optional<std::string> temp;   // TEMP; unset when empty
  StdOutKind stdOut = StdOutKind::Pipe;
  std::filesystem::path outFile;  // where StdOutKind::File writes
  StdErrKind stdErr = StdErrKind::Pipe;
  // Another program than the tool, with its arguments.
  std::string program;
  std::vector<std::string> arguments;
  // NAME=value entries set on top of the inherited environment.
  std::vector<std::string> environment;
  std::optional<mode_t> umask;
  // Runs under this account (uid, gid) instead of the caller's; needs root.
  std::optional<std::pair<uid_t, gid_t>> account;
};

struct ToolResult {
  int status = -1;  // the exit status, or 1000 + the signal that ended the process
  std::string out;
  std::string err;
  bool timedOut = false;  // killed by Wait because it ran past its limit
};

constexpr int kKilledStatus = 1000 + SIGKILL;

// A started child. Everything it needs is prepared before the fork, so that starting one is safe
// from a process with other threads.
class RunningTool {
 public:
  explicit RunningTool(const ToolOptions& options);
  ~RunningTool();
  RunningTool(const RunningTool&) = delete;
  RunningTool& operator=(const RunningTool&) = delete;

  pid_t Pid() const { return pid_; }
  void Kill();
  // Reads its streams to their end and reaps it; past limit it is killed.
  ToolResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(60));

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  StdOutKind kind_;
  std::filesystem::path outFile_;
};

inline ToolResult RunTool(const ToolOptions& options) { return RunningTool(options).Wait(); }

std::string ReadFile(const std::filesystem::path& path);

// The store's tree; nothing when the file is missing or is not a store.
std::optional<platform::RegistryTree> ReadStore(const std::filesystem::path& store);

// The store holds exactly the layout of a complete run for an ordinary account, besides the
// values of otherKey (a path below the root), when given.
void ExpectCompleteLayout(const std::filesystem::path& store, const std::string& temp,
                          std::u16string_view otherKey = {});

}  // namespace zelmora::testing
