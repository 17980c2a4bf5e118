// STUB: placeholder until the module is written.
#include "jvm_library.h"

#include <cstdlib>

const std::string& getJVMSharedLib() { static std::string s; return s; }
std::optional<std::string> jmdIsThisJVMInstalled() { return {}; }
void jmdGetJVMSharedLib(std::string&, std::string_view, const VmInfo&) {}
void jmdGetJVMConfigFile(std::string&, std::string_view, const VmInfo&) {}
bool jmdLoadJavaVM(InvocationFunctions&) { return {}; }
bool jmdSetJavaEnvironment(bool&) { return {}; }
void jmdClearJavaEnvironment() {}
void jmdReset() {}
