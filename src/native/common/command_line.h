// The command line: the option table, parsing, the launcher argument list and the
// usage text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// What a handler receives besides the undo flag and the argument as typed: the value
// for a value-taking row, the fixed integer for rows of mode 2 and above.
struct OptionValue {
  const std::string* text = nullptr;
  int number = 0;
};
using OptionHandler = bool (*)(bool undo, const std::string& argument, const OptionValue& value);

// One row of the option table.
struct JavaOption {
  const char* name;
  bool prefixMatch;
  OptionHandler handler;
  int handlerArg;  // 0 alone, 1 takes the next argument, 2+ handler gets handlerArg - 2
  bool stopsParsing;
  bool showInUsage;
  bool (*isEnabled)();
  bool ignoreCase;
  const char* usageArgs;
  const char* helpText;
};

void optInit();
void optTerm();

// Parses the arguments after the program name. On return args holds what follows a
// stopping option (itself included), or nothing. A value option without its value
// returns false and leaves args as given.
bool optParseArgument(std::vector<std::string>& args);
// Parses the arguments again once the configuration has set a command prefix: what the
// first parse recorded (the launcher list, the command line's application arguments
// behind the configuredAppArgs configured ones, its VM options and class path, shell
// mode and JPDA) is dropped first, so the lists and settings come from this parse alone.
bool optReparseArgument(std::vector<std::string>& args, size_t configuredAppArgs);
// The launcher argument list holds the command prefix followed by the name.
bool optIsOptionOn(std::string_view name, bool ignoreCase);
void optPrintUsage();
bool optIsShellMode();

// The recognised options and their values, in command-line order.
const std::vector<std::string>& optGetArgumentList();
// The option table, for the conversion of conditional options.
const JavaOption* optGetOptionTable(size_t& count);
