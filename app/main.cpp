#include "host/ProcessEntry.h"

int main() { zelmora::ProcessEntry(); }
