// STUB: placeholder until the module is written.
#include "config_macros.h"

#include <cstdlib>

void cfgMacrosInit() {}
void cfgMacrosTerm() {}
std::string cfgExpandMacros(std::string_view) { return {}; }
std::optional<std::string> cfgGetVar(std::string_view, std::string_view) { return {}; }
void cfgAddVar(std::string_view) {}
const NameValueList& cfgGetConfigVars() { static NameValueList v; return v; }
bool cfgSet(const std::string&) { return {}; }
bool cfgExport(const std::string&) { return {}; }
