// STUB: placeholder until the module is written.
#include "launcher_entry.h"

#include <cstdlib>

int32_t checkForRestart(int32_t, bool) { return {}; }
[[noreturn]] void JVMExitHandler(int32_t) { std::abort(); }
void atExitHandler() {}
int launcherMain(int, char**) { return {}; }
