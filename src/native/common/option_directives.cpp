// STUB: placeholder until the module is written.
#include "option_directives.h"

#include <cstdlib>

void cfgOptionDirectivesInit() {}
void cfgOptionDirectivesTerm() {}
bool cfgSetFromOption(const std::string&) { return {}; }
bool cfgEnsureDirExists(const std::string&) { return {}; }
bool cfgEnableJPDA(const std::string&) { return {}; }
bool cfgOptionsCmd(const std::string&) { return {}; }
bool cfgCmdPrefixCmd(const std::string&) { return {}; }
bool cfgVMVersionCmd(const std::string&) { return {}; }
bool cfgIsJPDASupportEnabled() { return {}; }
bool cfgIsJPDAStartPaused() { return {}; }
std::optional<std::string> cfgGetJPDAAddr() { return {}; }
bool cfgIsStrictVMCheckEnabled() { return {}; }
bool cfgIsHandleShutdownEnabled() { return {}; }
bool cfgIsAllowRIEnabled() { return {}; }
bool cfgIsAllowJavaOnPathEnabled() { return {}; }
bool cfgIsMakePathsAbsolute() { return {}; }
const std::string& cfgGetCmdPrefix() { static std::string s; return s; }
bool cfgIsJVMVersionAcceptable(const char*, std::string*) { return {}; }
void cfgPrintUsage() {}
