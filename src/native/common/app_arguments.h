// The application argument list, conditional options, +jpda and +sig.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"

struct RemovedArgument {
  std::optional<std::string> entry;
  std::optional<std::string> value;
};

void optAddApplicationArgument(std::string_view text);
// Positions count from 1; 0 or less counts as 1, beyond the end appends.
void optInsertApplicationArgumentN(std::string_view text, int position);
void optInsertApplicationArgument(std::string_view text);
// Takes the entry at the position out of the list; none beyond the end.
std::optional<std::string> optRemoveApplicationArgumentN(int position);
// Finds the first entry equal to the name (or beginning with it) and takes it, and
// its value when asked, out of the application list.
RemovedArgument optRemoveApplicationArgument(std::string_view name, bool prefixMatch, bool wantValue);
void optAddArgument(std::string_view text);
RemovedArgument optRemoveArgument(std::string_view name, bool prefixMatch, bool wantValue);
int optGetApplicationArgCount();
const std::vector<std::string>& optGetApplicationArgList();

// Settles +usage, +version and +jpda against the configuration.
void optConvertDisabledArguments();

bool optSetJPDA(bool undo, const std::string& argument, const OptionValue& value);
bool optSetSig(bool undo, const std::string& argument, const OptionValue& value);
bool optIsJPDAEnabled();
bool optIsJPDAStartPaused();
std::optional<std::string> optGetJPDAAddr();

// Forgets what a parse put into the lists: the launcher list, the JPDA settings, and
// every application argument behind the first configuredCount (the configured ones).
void optDropCommandLineArguments(size_t configuredCount);

// Back to the start state (called by optInit/optTerm).
void optAppArgumentsReset();
