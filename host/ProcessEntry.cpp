#include "host/ProcessEntry.h"

#include <array>
#include <csignal>
#include <new>

#include "host/Exceptions.h"
#include "host/FailureReport.h"
#include "host/InOutMessages.h"
#include "host/MessageTexts.h"
#include "host/OutOfMemory.h"
#include "platform/Platform.h"

namespace zelmora {

std::int32_t ExitStatus = 0;

namespace {

constexpr std::int32_t kEscapedStartUpFailure = 217;

const Installation* installation = nullptr;
// Read by the fault handler too, which may interrupt the code that changes them.
volatile std::sig_atomic_t reporterInstalled = false;
volatile std::sig_atomic_t startingUp = false;
volatile std::sig_atomic_t failureBeingTold = false;

// The host services, in the order they start.
struct Service {
  void (*start)();
  void (*finish)();
};
// The message overrides come before the first text is read, the "Out of memory" of the
// instance included.
constexpr std::array<Service, 5> kServices = {{
    {[] { Channel().SetUp(); }, [] { Channel().Close(); }},
    {&LoadMessageOverrides, &ReleaseMessageOverrides},
    {&CreateOutOfMemoryInstance, &ReleaseOutOfMemoryInstance},
    {[] { reporterInstalled = true; }, [] { reporterInstalled = false; }},
    {&LoadInOutMessages, &ReleaseInOutMessages},
}};
std::size_t startedServices = 0;

void FinishServices() {
  while (startedServices > 0) kServices[--startedServices].finish();
}

// The failure a guard caught, with the failure point it carries. A memory failure of the
// C++ run-time that did not come through the instance is reported as the instance.
struct CaughtFailure {
  std::exception_ptr failure;
  const void* failurePoint = nullptr;
};

CaughtFailure Identify(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& exception) {
    return {failure, exception.FailurePoint()};
  } catch (const std::bad_alloc&) {
    if (OutOfMemoryInstance()) return {OutOfMemoryInstance(), nullptr};
  } catch (...) {
  }
  return {failure, nullptr};
}

// The guard of processor faults, which cannot be caught as failures: the guard's decision, made
// where the fault strikes. A fault cannot unwind start-up, so one during start-up counts as
// escaping it, and nothing is finished before the process ends.
[[noreturn]] void OnProcessorFault(const platform::ProcessorFault& fault) {
  if (failureBeingTold) {
    // A fault in the telling of a failure, or in a fault's: telling again could fault again.
    ExitStatus = 1;
    platform::EndProcess(1);
  }
  failureBeingTold = true;
  if (reporterInstalled && !startingUp) ReportProcessorFault(fault);
  WriteFallbackLine(kEscapedStartUpFailure, fault.instruction, Ending::AtOnce);
}

}  // namespace

void UseInstallation(const Installation& used) { installation = &used; }

OutputChannel& Channel() { return *installation->channel; }

bool FailureReporterInstalled() { return reporterInstalled != 0; }

void StartUp() {
  startingUp = true;
  try {
    for (const Service& service : kServices) {
      ++startedServices;  // a service that fails to start is finalised too
      service.start();
    }
  } catch (...) {
    FinishServices();
    startingUp = false;
    throw;
  }
  startingUp = false;
}

void ShutDown() {
  FinishServices();
  platform::EndProcess(static_cast<platform::UINT>(ExitStatus));
}

void ProcessEntry(const Installation& used) {
  UseInstallation(used);
  failureBeingTold = false;  // a test runs more than one entry in its process
  // The tool is linked as a console program, so reports and fallback lines always reach the
  // standard streams and no dialog is ever shown.
  try {
    // Before anything else, so that a fault anywhere is told. Without the handler the run is
    // still worth making: a fault then ends it as the system ends any program.
    platform::System().InstallFaultHandler(&OnProcessorFault);
    StartUp();
    installation->run();
    ShutDown();
  } catch (const platform::ProcessExit&) {
    throw;  // the process is ending already
  } catch (...) {
    failureBeingTold = true;
    const CaughtFailure caught = Identify(std::current_exception());
    if (reporterInstalled) ReportFailure(caught.failure, caught.failurePoint);
    WriteFallbackLine(kEscapedStartUpFailure, caught.failurePoint);
  }
  platform::EndProcess(static_cast<platform::UINT>(ExitStatus));  // not reached: each path ends
}

}  // namespace zelmora
