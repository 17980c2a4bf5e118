// Directives that shape the launcher's own behaviour, the VM version requirement,
// and the configured usage lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

void cfgOptionDirectivesInit();
void cfgOptionDirectivesTerm();

bool cfgSetFromOption(const std::string& argument);
bool cfgEnsureDirExists(const std::string& argument);
bool cfgEnableJPDA(const std::string& argument);
bool cfgOptionsCmd(const std::string& argument);
bool cfgCmdPrefixCmd(const std::string& argument);
bool cfgVMVersionCmd(const std::string& argument);

bool cfgIsJPDASupportEnabled();
bool cfgIsJPDAStartPaused();
std::optional<std::string> cfgGetJPDAAddr();
bool cfgIsStrictVMCheckEnabled();
bool cfgIsHandleShutdownEnabled();
bool cfgIsAllowRIEnabled();
bool cfgIsAllowJavaOnPathEnabled();
bool cfgIsMakePathsAbsolute();
const std::string& cfgGetCmdPrefix();
// Whether a version reported by a VM meets the requirement; message receives its text.
bool cfgIsJVMVersionAcceptable(const char* version, std::string* message);
void cfgPrintUsage();
