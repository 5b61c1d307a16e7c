#include "host/ProcessEntry.h"

#include <array>
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
bool reporterInstalled = false;

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

}  // namespace

void UseInstallation(const Installation& used) { installation = &used; }

OutputChannel& Channel() { return *installation->channel; }

bool FailureReporterInstalled() { return reporterInstalled; }

void StartUp() {
  try {
    for (const Service& service : kServices) {
      ++startedServices;  // a service that fails to start is finalised too
      service.start();
    }
  } catch (...) {
    FinishServices();
    throw;
  }
}

void ShutDown() {
  FinishServices();
  platform::EndProcess(static_cast<platform::UINT>(ExitStatus));
}

void ProcessEntry(const Installation& used) {
  UseInstallation(used);
  // The tool is linked as a console program, so reports and fallback lines always reach the
  // standard streams and no dialog is ever shown.
  try {
    StartUp();
    installation->run();
    ShutDown();
  } catch (const platform::ProcessExit&) {
    throw;  // the process is ending already
  } catch (...) {
    const CaughtFailure caught = Identify(std::current_exception());
    if (reporterInstalled) ReportFailure(caught.failure, caught.failurePoint);
    WriteFallbackLine(kEscapedStartUpFailure, caught.failurePoint);
  }
  platform::EndProcess(static_cast<platform::UINT>(ExitStatus));  // not reached: each path ends
}

}  // namespace zelmora
