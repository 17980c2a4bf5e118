// STUB: placeholder until the module is written.
#include "jvm_discovery.h"

#include <cstdlib>

bool jevInit() { return {}; }
void jevTerm() {}
const InvocationFunctions& jevGetInvocationFunction() { static InvocationFunctions v; return v; }
const VmInfo& jevGetVmInfo() { static VmInfo v; return v; }
int32_t jevGetJVMType() { return {}; }
int32_t jevGetJVMSubType() { return {}; }
void jevSetJVMSubType(int32_t) {}
std::string jevGetJVMHome() { return {}; }
void jevConfigureDefaultJVM() {}
bool jevGetJavaVMLibDir(std::string&) { return {}; }
bool jevDetermineJVMType() { return {}; }
bool jevBasicJDKJREChecks(const std::string&) { return {}; }
bool jevBasicJVMChecks(const std::string&) { return {}; }
void jevPrintXUsage() {}
