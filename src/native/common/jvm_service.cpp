// STUB: placeholder until the module is written.
#include "jvm_service.h"

#include <cstdlib>

int32_t jsvCreateJVM() { return {}; }
int32_t jsvDestroyJVM() { return {}; }
void jsvAbortService(bool) {}
void jsvDumpAllStacks() {}
bool jsvIgnoreVMExitCode() { return {}; }
int32_t jsvInternalExitCode() { return {}; }
