// The baseline of the start-up benchmark: a console program that does nothing, built with the
// same toolchain and runtime linkage as the tool.
int main() { return 0; }
