// STUB: placeholder until the module is written.
#include "sysinfo.h"

#include <cstdlib>

uint64_t getTotalPhysMem() { return {}; }
std::optional<uint64_t> sysinfoParseMemoryLimit(const std::string&) { return {}; }
