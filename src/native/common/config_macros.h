// Macro expansion of configuration lines, configuration variables, set and export.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "name_value_list.h"

void cfgMacrosInit();
void cfgMacrosTerm();

std::string cfgExpandMacros(std::string_view line);
std::optional<std::string> cfgGetVar(std::string_view name, std::string_view defaultValue);
void cfgAddVar(std::string_view nameEqualValue);
const NameValueList& cfgGetConfigVars();

bool cfgSet(const std::string& argument);
bool cfgExport(const std::string& argument);
// The names the configuration's export lines set, each once, in the order first set.
const std::vector<std::string>& cfgGetExportedNames();
