// How the process starts and ends: the installation it runs, its services in their fixed order,
// and the exit status. The failure report and the process entry both end the process through
// it, so it sits below both.
#pragma once

#include <csignal>
#include <cstdint>

#include "registry/OutputChannel.h"

namespace zelmora {

// The status the process ends with: 0 unless a failure report (1) or the fallback line (217)
// set it. The fault handler reads it, and may interrupt the code that sets it.
extern volatile std::sig_atomic_t ExitStatus;
static_assert(sizeof(std::sig_atomic_t) >= sizeof(std::int32_t), "a status needs 32 bits");

// What the entry runs: the installation, and the channel that the installation prints through.
// The program composes the two and hands them in, so that this layer never reaches up for them.
struct Installation {
  void (*run)();
  OutputChannel* channel;
};

// Names the installation that start-up, the run and shut-down work on. ProcessEntry does it
// first; a test that drives the steps one by one does it itself.
void UseInstallation(const Installation& installation);
// The channel of the installation in use.
OutputChannel& Channel();

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
