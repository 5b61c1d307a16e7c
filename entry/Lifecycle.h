// How the process starts and ends: the installation it runs, its services in their fixed order,
// and the exit status. The failure report and the process entry both end the process through
// it, so it sits below both.
#pragma once

#include <csignal>
#include <cstdint>

#include "platform/Platform.h"
#include "registry/OutputChannel.h"

namespace zelmora {

// The status the process ends with: the run's own, unless a failure report or the fallback line
// set theirs. The fault handler reads it, and may interrupt the code that sets it.
extern volatile std::sig_atomic_t ExitStatus;
static_assert(sizeof(std::sig_atomic_t) >= sizeof(std::int32_t), "a status needs 32 bits");

// The statuses a program ends with when a failure escapes its run: the failure report's, and the
// fallback line's (a failure during start-up, or one that cannot be reported). Each program has
// its own, so that a caller tells its failures from those of a program it runs.
struct FailureStatuses {
  std::int32_t report;
  std::int32_t fallback;
};

// What the entry runs: the program's run, which returns the status to end with, the channel that
// it prints through, and its failure statuses. The program composes them and hands them in, so
// that this layer never reaches up for them.
// `translated`: whether start-up looks for an administrator's translation of the texts; a
// program whose every run must stay cheap declines it.
struct Installation {
  platform::UINT (*run)();
  OutputChannel* channel;
  FailureStatuses statuses;
  bool translated = true;
};

// Names the installation that start-up, the run and shut-down work on. ProcessEntry does it
// first; a test that drives the steps one by one does it itself.
void UseInstallation(const Installation& installation);
// The channel of the installation in use.
OutputChannel& Channel();
// Its failure statuses.
const FailureStatuses& Statuses();

// Starts the host services in their fixed order; when one fails, finalises what was started
// (the failing one included) in reverse and lets the failure go on.
void StartUp();
// Finalises the started services in reverse order and ends the process with ExitStatus.
[[noreturn]] void ShutDown();

// Whether the failure reporter is installed (from start-up to shut-down).
bool FailureReporterInstalled();
// Whether start-up is under way. Both are safe to read from a fault handler.
bool StartingUp();

}  // namespace zelmora
