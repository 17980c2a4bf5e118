// STUB: placeholder until the module is written.
#include "app_arguments.h"

#include <cstdlib>

void optAddApplicationArgument(std::string_view) {}
void optInsertApplicationArgumentN(std::string_view, int) {}
void optInsertApplicationArgument(std::string_view) {}
std::optional<std::string> optRemoveApplicationArgumentN(int) { return {}; }
RemovedArgument optRemoveApplicationArgument(std::string_view, bool, bool) { return {}; }
void optAddArgument(std::string_view) {}
RemovedArgument optRemoveArgument(std::string_view, bool, bool) { return {}; }
int optGetApplicationArgCount() { return {}; }
const std::vector<std::string>& optGetApplicationArgList() { static std::vector<std::string> v; return v; }
void optConvertDisabledArguments() {}
bool optSetJPDA(bool, const std::string&, const OptionValue&) { return {}; }
bool optSetSig(bool, const std::string&, const OptionValue&) { return {}; }
bool optIsJPDAEnabled() { return {}; }
bool optIsJPDAStartPaused() { return {}; }
std::optional<std::string> optGetJPDAAddr() { return {}; }
void optAppArgumentsReset() {}
