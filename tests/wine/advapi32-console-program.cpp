// A second baseline of the start-up benchmark: a console program that imports advapi32 and asks
// for the user's name, as the tool must for its registry and account work. What it costs beyond
// the empty program is the price of that import and one call, not of the tool's work.
#include <windows.h>

int main() {
  wchar_t name[257];
  DWORD size = 257;
  return GetUserNameW(name, &size) ? 0 : 1;
}
