// STUB: placeholder until the module is written.
#include "launch_sequence.h"

#include <cstdlib>

void japInit() {}
void japTerm() {}
int32_t japStart(LaunchContext&) { return {}; }
int32_t japStart2(LaunchContext&) { return {}; }
std::optional<std::string> japConfigureForSSL(const std::optional<std::string>&) { return {}; }
void japPrintHelp() {}
void japStop(bool) {}
void japDumpAllStacks() {}
