// Memory exhaustion is raised as one EOutOfMemory instance made at start-up, so that raising
// and reporting it needs no memory of its own.
#pragma once

#include <exception>

namespace zelmora {

class EOutOfMemory;

// Start-up: makes the instance and routes every failed allocation to it.
void CreateOutOfMemoryInstance();
// Shut-down: allows the instance to be freed, frees it and restores the allocator's own
// failure path.
void ReleaseOutOfMemoryInstance();

// The instance; null before start-up and after shut-down.
const std::exception_ptr& OutOfMemoryInstance();

// Raises the instance (or a plain std::bad_alloc when there is none).
[[noreturn]] void RaiseOutOfMemory();

}  // namespace zelmora
