// Memory exhaustion is raised as one EOutOfMemory instance made at start-up, so that raising
// and reporting it needs no memory of its own.
#pragma once

#include <exception>

namespace zelmora {

class EOutOfMemory;

// Start-up: makes the instance and routes every failed allocation to it.
void CreateOutOfMemoryInstance();
// Shut-down: restores the allocator's own failure path, sets the instance's AllowFree and
// frees it.
void ReleaseOutOfMemoryInstance();
// Frees the instance: drops the reference kept since start-up, so that it goes once no handler
// holds it. Refused (false) while its AllowFree is false, so that nothing but shut-down can take
// away the instance that the next exhaustion raises.
bool FreeOutOfMemoryInstance();

// The instance; null before start-up and after shut-down.
const std::exception_ptr& OutOfMemoryInstance();

// Raises the instance (or a plain std::bad_alloc when there is none).
[[noreturn]] void RaiseOutOfMemory();

}  // namespace zelmora
