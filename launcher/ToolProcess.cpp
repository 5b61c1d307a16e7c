#include "launcher/ToolProcess.h"

#include <algorithm>
#include <array>

#include "launcher/LaunchFailure.h"
#include "launcher/LaunchStatus.h"

namespace zelmora::launcher {
namespace {

using platform::DWORD;
using platform::HANDLE;
using platform::System;

// How long an ended tool may take to go: its handles close as it goes, and a tool stuck in a
// system call on a lost share may take a while.
constexpr DWORD kEndingTimeLimit = 30 * 1000;

// Closes a handle when it goes: the pipe and the process, whichever way the run ends.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  ~OwnedHandle() {
    if (handle_ != platform::kNoHandle && handle_ != platform::kInvalidHandle) {
      System().CloseHandle(handle_);
    }
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE* Receive() { return &handle_; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_ = platform::kNoHandle;
};

// Reads the pipe to its end, keeping the first kCaptureLimit bytes.
std::string ReadToEnd(HANDLE pipe) {
  std::string captured;
  std::array<char, 4096> chunk;
  for (;;) {
    DWORD read = 0;
    if (System().ReadFile(pipe, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) ==
        0) {
      // Windows tells the end of a pipe whose writers are gone as a broken pipe.
      if (System().GetLastError() == platform::kErrorBrokenPipe) break;
      RaiseLaunchFailure(u"ReadFile");
    }
    if (read == 0) break;
    const std::size_t kept = std::min<std::size_t>(read, kCaptureLimit - captured.size());
    captured.append(chunk.data(), kept);
  }
  return captured;
}

}  // namespace

ToolRun RunTool(const HeldTool& tool) {
  ToolRun run;
  const std::u16string commandLine = u"\"" + tool.Path() + u"\"";
  OwnedHandle process, output;  // the pipe is closed first, then the process
  if (System().CreateProcessW(tool.Handle(), tool.Path().c_str(), commandLine.c_str(),
                              output.Receive(), process.Receive()) == 0) {
    return run;  // NotStarted: whatever the reason, it is the tool that cannot be started
  }
  const DWORD waited = System().WaitForSingleObject(process.Get(), kToolTimeLimit);
  if (waited == platform::kWaitTimeout) {
    run.ending = ToolRun::Ending::TimedOut;
    run.status = kTimedOut;
    // Once it is ended its output can be read to the end; while it may still run, reading could
    // wait for ever.
    if (System().TerminateProcess(process.Get(), kTimedOut) != 0 &&
        System().WaitForSingleObject(process.Get(), kEndingTimeLimit) == platform::kWaitObject0) {
      run.captured = ReadToEnd(output.Get());
    }
    return run;
  }
  if (waited != platform::kWaitObject0) RaiseLaunchFailure(u"WaitForSingleObject");
  if (System().GetExitCodeProcess(process.Get(), &run.status) == 0) {
    RaiseLaunchFailure(u"GetExitCodeProcess");
  }
  run.ending = ToolRun::Ending::Ended;
  run.captured = ReadToEnd(output.Get());
  return run;
}

}  // namespace zelmora::launcher
