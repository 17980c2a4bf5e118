// The launcher executable's entry point.
#include "launcher_entry.h"

int main(int argc, char** argv) { return launcherMain(argc, argv); }
