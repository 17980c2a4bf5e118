// STUB: placeholder until the module is written.
#include "path_list.h"

#include <cstdlib>

std::string utlMakeAbsPath(std::string_view, bool) { return {}; }
bool utlFileExists(const std::string&) { return {}; }
bool utlIsDir(const std::string&) { return {}; }
void utlAddPathUnique(PathArray&, std::string_view, bool) {}
void utlPathStringToArray(PathArray&, std::string_view, bool) {}
void utlRemoveFromPath(PathArray&, std::string_view) {}
void utlRemoveFromArray(PathArray&, const PathArray&) {}
std::optional<std::string> utlPathArrayToString(const PathArray&) { return {}; }
void utlFixDirSeparators(std::string&) {}
std::string utlFixDirSeparators(std::string_view) { return {}; }
std::optional<std::string> utlEnsurePathIsSecure(std::optional<std::string>) { return {}; }
