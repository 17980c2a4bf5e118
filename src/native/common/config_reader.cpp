// STUB: placeholder until the module is written.
#include "config_reader.h"

#include <cstdlib>

void cfgInit() {}
void cfgTerm() {}
bool cfgProcessConfig() { return {}; }
bool cfgProcessConfigFile(const std::string&) { return {}; }
std::string cfgGetConfigFileName(std::optional<std::string_view>) { return {}; }
int cfgSetConfigFileMode(int) { return {}; }
int cfgGetConfigFileMode() { return {}; }
std::optional<std::string> cfgGetCurrentConfigFile() { return {}; }
bool cfgSetDefaultConfigFile(std::string_view) { return {}; }
const std::string& cfgGetDefaultConfigFile() { static std::string s; return s; }
bool cfgInclude(const std::string&) { return {}; }
bool cfgIncludeDir(const std::string&) { return {}; }
