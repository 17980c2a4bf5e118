// STUB: placeholder until the module is written.
#include "launcher_location.h"

#include <cstdlib>

bool hmdSetApplicationHome(std::string_view, std::string&) { return {}; }
void hmdSetFullLauncherFileName(std::string_view) {}
void hmdSetFullLauncherPath(std::string_view) {}
void hmdSetApplicationName(std::string_view) {}
std::string hmdGetFullLauncherFileName(size_t) { return {}; }
std::string hmdGetFullLauncherPath(size_t) { return {}; }
std::string hmdGetApplicationHome(size_t) { return {}; }
const char* hmdGetApplicationName() { return nullptr; }
std::optional<std::string> hmdGetKestrixProperty(std::string_view) { return {}; }
