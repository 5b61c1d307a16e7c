// A DLL that the suite plants beside a program, as an attacker would in a user-writable folder.
#include <windows.h>

extern "C" __declspec(dllexport) int Planted() { return 1; }
