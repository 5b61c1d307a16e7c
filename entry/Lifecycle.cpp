#include "entry/Lifecycle.h"

#include <array>
#include <csignal>

#include "platform/Platform.h"
#include "registry/InOutMessages.h"
#include "registry/MessageTexts.h"
#include "registry/OutOfMemory.h"

namespace zelmora {

volatile std::sig_atomic_t ExitStatus = 0;

namespace {

const Installation* installation = nullptr;
// Read by the fault handler too, which may interrupt the code that changes them.
volatile std::sig_atomic_t reporterInstalled = false;
volatile std::sig_atomic_t startingUp = false;

// The host services, in the order they start.
struct Service {
  void (*start)();
  void (*finish)();
};
// The message overrides come before the first text is read, the "Out of memory" of the
// instance included.
constexpr std::array<Service, 5> kServices = {{
    {[] { Channel().SetUp(); }, [] { Channel().Close(); }},
    {[] {
       if (installation->translated) LoadMessageOverrides();
     },
     &ReleaseMessageOverrides},
    {&CreateOutOfMemoryInstance, &ReleaseOutOfMemoryInstance},
    {[] { reporterInstalled = true; }, [] { reporterInstalled = false; }},
    {&LoadInOutMessages, &ReleaseInOutMessages},
}};
std::size_t startedServices = 0;

void FinishServices() {
  while (startedServices > 0) kServices[--startedServices].finish();
}

}  // namespace

void UseInstallation(const Installation& used) { installation = &used; }

OutputChannel& Channel() { return *installation->channel; }

const FailureStatuses& Statuses() { return installation->statuses; }

bool FailureReporterInstalled() { return reporterInstalled != 0; }

bool StartingUp() { return startingUp != 0; }

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

}  // namespace zelmora
