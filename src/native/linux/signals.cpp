// STUB: placeholder until the module is written.
#include "signals.h"

#include <cstdlib>

bool hmdSetSignalIgnore(std::string_view) { return {}; }
bool hmdIsSignalIgnored(std::string_view) { return {}; }
void hmdSignalsReset() {}
