#include "registry/OutOfMemory.h"

#include <new>

#include "registry/Exceptions.h"
#include "registry/MessageTexts.h"

namespace zelmora {
namespace {

constexpr platform::UINT kOutOfMemoryMessage = 65525;

std::exception_ptr instance;
EOutOfMemory* instanceObject = nullptr;
std::new_handler previousHandler = nullptr;

}  // namespace

void CreateOutOfMemoryInstance() {
  // Made completely before anything is kept, so that a failure here leaves nothing half set.
  std::exception_ptr made = std::make_exception_ptr(EOutOfMemory(LoadMessage(kOutOfMemoryMessage)));
  EOutOfMemory* object = nullptr;
  try {
    std::rethrow_exception(made);
  } catch (EOutOfMemory& raised) {
    object = &raised;  // the very object every raise shares
  }
  instance = std::move(made);
  instanceObject = object;
  previousHandler = std::set_new_handler(&RaiseOutOfMemory);
}

void ReleaseOutOfMemoryInstance() {
  if (!instance) return;
  std::set_new_handler(previousHandler);
  previousHandler = nullptr;
  instanceObject->SetAllowFree(true);
  FreeOutOfMemoryInstance();
}

bool FreeOutOfMemoryInstance() {
  if (!instance) return true;
  if (!instanceObject->AllowFree()) return false;
  instanceObject = nullptr;
  instance = nullptr;
  return true;
}

const std::exception_ptr& OutOfMemoryInstance() { return instance; }

void RaiseOutOfMemory() {
  if (instance) std::rethrow_exception(instance);
  throw std::bad_alloc();
}

}  // namespace zelmora
