// STUB: placeholder until the module is written.
#include "command_line.h"

#include <cstdlib>

void optInit() {}
void optTerm() {}
bool optParseArgument(std::vector<std::string>&) { return {}; }
bool optIsOptionOn(std::string_view, bool) { return {}; }
void optPrintUsage() {}
bool optIsShellMode() { return {}; }
const std::vector<std::string>& optGetArgumentList() { static std::vector<std::string> v; return v; }
const JavaOption* optGetOptionTable(size_t&) { return nullptr; }
