// A second baseline of the start-up benchmark: a console program that does nothing but import
// advapi32 (for one call with no effect), as the tool must for its registry and user-name calls.
// What it costs beyond the empty program is the price of that import, not of the tool's work.
#include <windows.h>

int main() { return RegCloseKey(nullptr) == ERROR_SUCCESS ? 1 : 0; }
