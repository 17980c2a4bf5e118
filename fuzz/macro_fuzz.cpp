// Fuzzes the macro expansion of one arbitrary line, with two application arguments and a
// few variables defined.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app_arguments.h"
#include "config_macros.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  cfgMacrosInit();
  optAppArgumentsReset();
  optAddApplicationArgument("first");
  optAddApplicationArgument("second");
  cfgAddVar("A=1");
  cfgAddVar("B=$var(A)");
  std::string expanded = cfgExpandMacros(line);
  // Text without '$' passes through unchanged.
  if (line.find('$') == std::string::npos && expanded != line) std::abort();
  cfgMacrosTerm();
  optAppArgumentsReset();
  return 0;
}
