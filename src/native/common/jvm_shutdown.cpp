// The orderly stop and the stack dump, run on the threads the signal handling starts.

#include "jvm_service.h"
#include "jvm_state.h"

void jsvAbortService(bool) {}

void jsvDumpAllStacks() {}
