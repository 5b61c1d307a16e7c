// The code address a failure is raised at: the return address of the function that raises it.
#pragma once

#if defined(_MSC_VER)
#include <intrin.h>
#define ZELMORA_RETURN_ADDRESS() _ReturnAddress()
#define ZELMORA_NOINLINE __declspec(noinline)
#else
#define ZELMORA_RETURN_ADDRESS() __builtin_return_address(0)
#define ZELMORA_NOINLINE __attribute__((noinline))
#endif
