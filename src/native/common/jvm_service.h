// The JVM service: creating the VM, running the application class, destroying the VM,
// the orderly stop and the stack dump.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

int32_t jsvCreateJVM();
int32_t jsvRunService(const std::string& className, const std::string& method,
                      const std::string& exitClass, const std::string& exitMethod,
                      const std::vector<std::string>& args);
int32_t jsvDestroyJVM();
void jsvAbortService(bool flag);
void jsvDumpAllStacks();
// Set when the main method returned and getExitStatus supplied the status.
bool jsvIgnoreVMExitCode();
int32_t jsvInternalExitCode();
