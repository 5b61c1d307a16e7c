// How the process starts and ends: the entry sequence, its services and the exit status.
#pragma once

#include <cstdint>

#include "host/OutputChannel.h"

namespace zelmora {

// The status the process ends with: 0 unless a failure report (1) or the fallback line (217)
// set it.
extern std::int32_t ExitStatus;

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

// The process entry: one guard around start-up, the installation run and shut-down. Ends the
// process through the platform and never returns.
[[noreturn]] void ProcessEntry(const Installation& installation);

// Starts the host services in their fixed order; when one fails, finalises what was started
// (the failing one included) in reverse and lets the failure go on.
void StartUp();
// Finalises the started services in reverse order and ends the process with ExitStatus.
[[noreturn]] void ShutDown();

// Whether the failure reporter is installed (from start-up to shut-down).
bool FailureReporterInstalled();

}  // namespace zelmora
