// The process entry's restart rules and exit hooks.
#pragma once

#include <cstdint>

// Re-executes the launcher when the code asks for it; otherwise returns the code.
int32_t checkForRestart(int32_t code, bool reexecFlag);
// The VM's exit hook: tears the modules down and ends (or restarts) the process.
[[noreturn]] void JVMExitHandler(int32_t status);
void atExitHandler();
// The launcher's main, called by main().
int launcherMain(int argc, char** argv);
