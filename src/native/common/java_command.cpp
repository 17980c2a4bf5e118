// STUB: placeholder until the module is written.
#include "java_command.h"

#include <cstdlib>

void japPrintJavaCmd(const std::string&) {}
std::string japQuoteSpaces(const std::string&) { return {}; }
