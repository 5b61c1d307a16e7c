#include "entry/ProcessEntry.h"

#include <csignal>
#include <new>

#include "entry/FailureReport.h"
#include "platform/Platform.h"
#include "registry/Exceptions.h"
#include "registry/OutOfMemory.h"

namespace zelmora {

namespace {

volatile std::sig_atomic_t failureBeingTold = false;

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
    // A fault in the telling of a failure, or in a fault's: telling again could fault again. The
    // status was decided before the telling began: the report's or the fallback line's.
    platform::EndProcess(static_cast<platform::UINT>(ExitStatus));
  }
  failureBeingTold = true;
  if (FailureReporterInstalled() && !StartingUp()) ReportProcessorFault(fault);
  WriteFallbackLine(Statuses().fallback, fault.instruction, Ending::AtOnce);
}

}  // namespace

void ProcessEntry(const Installation& used) {
  UseInstallation(used);
  failureBeingTold = false;  // a test runs more than one entry in its process
  // Both programs are linked as console programs, so reports and fallback lines always reach the
  // standard streams and no dialog is ever shown.
  try {
    // Before anything else, so that a fault anywhere is told. Without the handler the run is
    // still worth making: a fault then ends it as the system ends any program.
    platform::System().InstallFaultHandler(&OnProcessorFault);
    StartUp();
    ExitStatus = static_cast<std::sig_atomic_t>(used.run());
    ShutDown();
  } catch (const platform::ProcessExit&) {
    throw;  // the process is ending already
  } catch (...) {
    failureBeingTold = true;
    // Before any telling.
    ExitStatus = FailureReporterInstalled() ? Statuses().report : Statuses().fallback;
    const CaughtFailure caught = Identify(std::current_exception());
    if (FailureReporterInstalled()) ReportFailure(caught.failure, caught.failurePoint);
    WriteFallbackLine(Statuses().fallback, caught.failurePoint);
  }
  platform::EndProcess(static_cast<platform::UINT>(ExitStatus));  // not reached: each path ends
}

}  // namespace zelmora
