// STUB: placeholder until the module is written.
#include "class_path.h"

#include <cstdlib>

void jopSetCmdLineClassPath(std::string_view, std::string_view) {}
int jopGetClassPathLocation() { return {}; }
void jopFinalizeClassPath() {}
void jopClassPathReset() {}
