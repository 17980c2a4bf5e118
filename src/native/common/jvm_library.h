// The VM library's layout under a Java home, the library path it needs, and loading it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "jvm_discovery.h"
#include "jvm_interface.h"

// "libjvm_g.so" with +javag, else "libjvm.so"; fixed at the first request.
const std::string& getJVMSharedLib();
// The host's registered installation: JAVA_HOME, then /usr/lib/jvm/default-java, when it passes.
std::optional<std::string> jmdIsThisJVMInstalled();
// Full path of the VM library under the home; dest unchanged for an unknown kind.
void jmdGetJVMSharedLib(std::string& dest, std::string_view home, const VmInfo& info);
// Path of the VM's jvm.cfg under the home; dest unchanged for an unknown kind.
void jmdGetJVMConfigFile(std::string& dest, std::string_view home, const VmInfo& info);
// Loads the library and resolves the entry points; false with a message on failure.
bool jmdLoadJavaVM(InvocationFunctions& table);
// Puts the VM's directories on LD_LIBRARY_PATH, setting reexecFlag when it changed.
bool jmdSetJavaEnvironment(bool& reexecFlag);
// Removes the VM library from LD_PRELOAD.
void jmdClearJavaEnvironment();
// Back to the start state (the library name is asked anew).
void jmdReset();
