// STUB: placeholder until the module is written.
#include "launch_settings.h"

#include <cstdlib>

void cfgSettingsInit() {}
void cfgSettingsTerm() {}
bool cfgAddLibPath(const std::string&) { return {}; }
bool cfgSetJavaHome(const std::string&) { return {}; }
bool cfgSetJavaPath(const std::string&) { return {}; }
bool cfgSetVMType(const std::string&) { return {}; }
bool cfgSetMainClass(const std::string&) { return {}; }
bool cfgSetMainMethod(const std::string&) { return {}; }
bool cfgSetVersionClass(const std::string&) { return {}; }
bool cfgSetUsageClass(const std::string&) { return {}; }
bool cfgSetExitClass(const std::string&) { return {}; }
bool cfgSetRestartOnExitCode(const std::string&) { return {}; }
bool cfgSetUsageOnExitCode(const std::string&) { return {}; }
bool cfgSetVMParam(const std::string&) { return {}; }
bool cfgSetVMProp(const std::string&) { return {}; }
bool cfgSetVMMemMin(const std::string&) { return {}; }
bool cfgSetVMMemMax(const std::string&) { return {}; }
bool cfgSetNoSplash(const std::string&) { return {}; }
bool cfgSetSocketPort(const std::string&) { return {}; }
bool cfgSetCopyEnv(const std::string&) { return {}; }
bool cfgSetExportEnv(const std::string&) { return {}; }
bool cfgSetCurrentDir(const std::string&) { return {}; }
bool cfgSetDaemonSupport(const std::string&) { return {}; }
bool cfgAddAppArg(const std::string&) { return {}; }
const PathArray& cfgGetShLibPath() { static PathArray v; return v; }
std::optional<std::string> cfgGetMainClass() { return {}; }
std::string cfgGetMainMethod() { return {}; }
std::optional<std::string> cfgGetVersionClass() { return {}; }
std::string cfgGetVersionMethod() { return {}; }
std::optional<std::string> cfgGetUsageClass() { return {}; }
std::string cfgGetUsageMethod() { return {}; }
std::optional<std::string> cfgGetExitClass() { return {}; }
std::string cfgGetExitMethod() { return {}; }
int32_t cfgGetRestartOnExitCode() { return {}; }
int32_t cfgGetUsageOnExitCode() { return {}; }
int32_t cfgGetSocketPort() { return {}; }
std::optional<std::string> cfgGetExportEnv() { return {}; }
std::optional<std::string> cfgGetCurrentDir() { return {}; }
bool cfgGetDaemonSupport() { return {}; }
std::optional<std::string> cfgGetDaemonLogDir() { return {}; }
