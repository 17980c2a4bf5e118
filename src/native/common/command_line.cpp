// The command line: the option table that drives recognition, dispatch and the usage
// text, and the parser that sorts the arguments into launcher options (recorded in the
// launcher argument list), VM options (handed to their modules) and application
// arguments.
#include "command_line.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "app_arguments.h"
#include "class_path.h"
#include "config_reader.h"
#include "jvm_discovery.h"
#include "jvm_options.h"
#include "instance_command.h"
#include "launch_settings.h"
#include "option_directives.h"
#include "path_list.h"
#include "trace.h"

namespace {

bool shellMode = false;
// A +javahome of this parse has been taken.
bool javaHomeGiven = false;

bool optSetDebugOn(bool, const std::string&, const OptionValue&) {
  if (!ut_tison()) ut_tprodon();
  return true;
}

bool optSetConfigFile(bool, const std::string&, const OptionValue& value) {
  if (value.text == nullptr || value.text->empty()) return false;
  return cfgSetDefaultConfigFile(*value.text);
}

bool optSetShellMode(bool, const std::string&, const OptionValue&) {
  shellMode = true;
  return true;
}

// The first +javahome wins; the configuration, read later, does not override it. A
// parse under the configured prefix runs after the configuration and replaces its home.
bool optSetJavaHome(bool, const std::string&, const OptionValue& value) {
  if (javaHomeGiven) return true;
  javaHomeGiven = true;
  jopSetJavaHome(utlFixDirSeparators(std::string_view(*value.text)));
  return true;
}

bool optAddProp(bool, const std::string& argument, const OptionValue&) {
  jopAddProp(argument);
  return true;
}

bool optAddParam(bool, const std::string& argument, const OptionValue&) {
  jopAddParam(argument);
  return true;
}

bool optSetJVMSubType(bool, const std::string&, const OptionValue& value) {
  jevSetJVMSubType(value.number);
  return true;
}

// The mode (append, prepend, replace) is read from the option's own text, behind the
// command prefix the parser matched.
bool optSetCmdLineClassPath(bool, const std::string& argument, const OptionValue& value) {
  const size_t prefix = std::min(cfgGetCmdPrefix().size(), argument.size());
  jopSetCmdLineClassPath(std::string_view(argument).substr(prefix), *value.text);
  return true;
}

bool isUsageClassConfigured() { return cfgGetUsageClass().has_value(); }
bool isVersionClassConfigured() { return cfgGetVersionClass().has_value(); }
bool isJPDASupportConfigured() { return cfgIsJPDASupportEnabled(); }

constexpr const char kClassPathArgs[] = " <directories and zip/jar files separated by path separators>";

// Searched in order; the first matching row wins. Rows 12 and 13 share the name "-X":
// the exact row catches the bare option (which prints the VM's -X help), the prefix
// row every -Xsomething, which goes to the VM.
constexpr std::array<JavaOption, 26> javaOptionsList = {{
    {.name = "+help", .prefixMatch = false, .handler = nullptr, .handlerArg = 0, .stopsParsing = true,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "",
     .helpText = "Prints this help message"},
    {.name = "+usage", .prefixMatch = false, .handler = nullptr, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = true, .isEnabled = isUsageClassConfigured, .ignoreCase = true, .usageArgs = "",
     .helpText = "Prints a summary of command syntax and options"},
    {.name = "+version", .prefixMatch = false, .handler = nullptr, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = true, .isEnabled = isVersionClassConfigured, .ignoreCase = false, .usageArgs = "",
     .helpText = "Prints product copyright and version information"},
    {.name = "+debug", .prefixMatch = false, .handler = optSetDebugOn, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "",
     .helpText = "Runs with debugging information enabled"},
    {.name = "+config", .prefixMatch = false, .handler = optSetConfigFile, .handlerArg = 1, .stopsParsing = false,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = " <config filename>",
     .helpText = "Uses the specified configuration file instead of the default"},
    {.name = "+shell", .prefixMatch = false, .handler = optSetShellMode, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = false, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "", .helpText = ""},
    {.name = "+javacmd", .prefixMatch = false, .handler = nullptr, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = false, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "", .helpText = ""},
    {.name = "+javag", .prefixMatch = false, .handler = nullptr, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = false, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "", .helpText = ""},
    {.name = "+javahome", .prefixMatch = false, .handler = optSetJavaHome, .handlerArg = 1, .stopsParsing = false,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = " <directory>",
     .helpText = "Specifies the installation directory of the Java VM"},
    {.name = "-D", .prefixMatch = true, .handler = optAddProp, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = false, .usageArgs = "<name>=<value>",
     .helpText = "Sets a Java system property"},
    {.name = "-verbose", .prefixMatch = true, .handler = optAddParam, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = false, .usageArgs = "[:{class|gc|jni}]",
     .helpText = "Enables verbose output from the Java VM"},
    {.name = "-X", .prefixMatch = false, .handler = nullptr, .handlerArg = 0, .stopsParsing = true,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = false, .usageArgs = "",
     .helpText = "Prints a summary of non-standard command options"},
    {.name = "-X", .prefixMatch = true, .handler = optAddParam, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = false, .isEnabled = nullptr, .ignoreCase = false, .usageArgs = "", .helpText = ""},
    {.name = "+classicvm", .prefixMatch = false, .handler = optSetJVMSubType, .handlerArg = 4, .stopsParsing = false,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "",
     .helpText = "Selects the Classic VM"},
    {.name = "+hotspotvm", .prefixMatch = false, .handler = optSetJVMSubType, .handlerArg = 5, .stopsParsing = false,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "",
     .helpText = "Selects the HotSpot VM"},
    {.name = "+clientvm", .prefixMatch = false, .handler = optSetJVMSubType, .handlerArg = 6, .stopsParsing = false,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "",
     .helpText = "Selects the HotSpot Client VM 2.0 [JDK 1.3]"},
    {.name = "+servervm", .prefixMatch = false, .handler = optSetJVMSubType, .handlerArg = 7, .stopsParsing = false,
     .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "",
     .helpText = "Selects the HotSpot Server VM 2.0 [JDK 1.3]"},
    {.name = "+classpath", .prefixMatch = false, .handler = optSetCmdLineClassPath, .handlerArg = 1,
     .stopsParsing = false, .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "",
     .helpText = "Same as +classpath/a"},
    {.name = "+classpath/a", .prefixMatch = false, .handler = optSetCmdLineClassPath, .handlerArg = 1,
     .stopsParsing = false, .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true,
     .usageArgs = kClassPathArgs, .helpText = "Appends to the classpath from the config file"},
    {.name = "+classpath/p", .prefixMatch = false, .handler = optSetCmdLineClassPath, .handlerArg = 1,
     .stopsParsing = false, .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true,
     .usageArgs = kClassPathArgs, .helpText = "Prepends to the classpath from the config file"},
    {.name = "+classpath/r", .prefixMatch = false, .handler = optSetCmdLineClassPath, .handlerArg = 1,
     .stopsParsing = false, .showInUsage = true, .isEnabled = nullptr, .ignoreCase = true,
     .usageArgs = kClassPathArgs, .helpText = "Replaces the classpath from the config file"},
    {.name = "+jpda", .prefixMatch = true, .handler = optSetJPDA, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = true, .isEnabled = isJPDASupportConfigured, .ignoreCase = true,
     .usageArgs = "[:[{paused|running}][,address=[<host>:]<port#>]]",
     .helpText = "Turns on JPDA to allow debugging from a JPDA debugger"},
    {.name = "+sig", .prefixMatch = false, .handler = optSetSig, .handlerArg = 1, .stopsParsing = false,
     .showInUsage = false, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "", .helpText = ""},
    {.name = "+status", .prefixMatch = true, .handler = hmdSetInstanceCommand, .handlerArg = 0,
     .stopsParsing = false, .showInUsage = false, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "",
     .helpText = ""},
    {.name = "+stop", .prefixMatch = true, .handler = hmdSetInstanceCommand, .handlerArg = 0,
     .stopsParsing = false, .showInUsage = false, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "",
     .helpText = ""},
    {.name = "+makecache", .prefixMatch = false, .handler = nullptr, .handlerArg = 0, .stopsParsing = false,
     .showInUsage = false, .isEnabled = nullptr, .ignoreCase = true, .usageArgs = "", .helpText = ""},
}};

// The candidate is the command prefix followed by the row's name; the argument must
// begin with it and, for an exact row, be no longer.
bool rowMatches(const JavaOption& row, const std::string& prefix, const std::string& argument) {
  const std::string candidate = prefix + row.name;
  const size_t n = candidate.size();
  if (argument.size() < n) return false;
  if (!row.prefixMatch && argument.size() != n) return false;
  if (row.ignoreCase) return strncasecmp(argument.c_str(), candidate.c_str(), n) == 0;
  return argument.compare(0, n, candidate) == 0;
}

const JavaOption* findRow(const std::string& argument) {
  const std::string& prefix = cfgGetCmdPrefix();
  for (const JavaOption& row : javaOptionsList) {
    if (rowMatches(row, prefix, argument)) return &row;
  }
  return nullptr;
}

}  // namespace

void optInit() {
  shellMode = false;
  javaHomeGiven = false;
  optAppArgumentsReset();
}

void optTerm() {
  shellMode = false;
  javaHomeGiven = false;
  optAppArgumentsReset();
}

// Arguments are taken left to right, each either an option of the table (with its
// value behind it for a value-taking row) or an application argument. A stopping
// option hands itself and everything behind it back in args; a rejected option ends
// the parse with args empty; a value option without its value returns false with args
// as they were.
bool optParseArgument(std::vector<std::string>& args) {
  bool result = true;
  std::vector<std::string> remaining;
  for (size_t i = 0; i < args.size(); ++i) {
    const size_t start = i;
    const std::string& argument = args[i];
    const JavaOption* row = findRow(argument);
    if (row == nullptr) {
      optAddApplicationArgument(argument);
      ut_tproda("Processed <%.*s> application arg", ut_textLimit(), argument.c_str());
      continue;
    }

    const std::string* valueText = nullptr;
    if (row->handlerArg == 1) {
      if (i + 1 >= args.size()) return false;
      valueText = &args[++i];
    }

    if (row->handler != nullptr) {
      OptionValue value;
      value.text = valueText;
      value.number = row->handlerArg >= 2 ? row->handlerArg - 2 : 0;
      result = row->handler(false, argument, value);
    }
    if (!result) break;

    const bool conditional = row->isEnabled != nullptr;
    optAddArgument(argument);
    if (conditional) optAddApplicationArgument(argument);
    if (valueText != nullptr) {
      optAddArgument(*valueText);
      if (conditional) optAddApplicationArgument(*valueText);
      ut_tproda("Processed <%.*s %.*s> arg", ut_textLimit(), argument.c_str(), ut_textLimit(1),
                valueText->c_str());
    } else {
      ut_tproda("Processed <%.*s> arg", ut_textLimit(), argument.c_str());
    }
    if (row->stopsParsing) {
      remaining.assign(args.begin() + static_cast<std::ptrdiff_t>(start), args.end());
      break;
    }
  }
  args = std::move(remaining);
  return result;
}

bool optReparseArgument(std::vector<std::string>& args, size_t configuredAppArgs) {
  shellMode = false;
  javaHomeGiven = false;
  optDropCommandLineArguments(configuredAppArgs);
  jopDropCommandLineOptions();
  return optParseArgument(args);
}

bool optIsOptionOn(std::string_view name, bool ignoreCase) {
  std::string candidate = cfgGetCmdPrefix();
  candidate.append(name);
  for (const std::string& entry : optGetArgumentList()) {
    if (entry.size() != candidate.size()) continue;
    if (ignoreCase ? strcasecmp(entry.c_str(), candidate.c_str()) == 0 : entry == candidate) return true;
  }
  return false;
}

void optPrintUsage() {
  std::fputs(" <+options> <args>\n\n", stdout);
  std::fputs("where options include:\n", stdout);
  const std::string& prefix = cfgGetCmdPrefix();
  for (const JavaOption& row : javaOptionsList) {
    if (!row.showInUsage) continue;
    if (row.isEnabled != nullptr && !row.isEnabled()) continue;
    std::fprintf(stdout, "    %s%s%s\n\t%s\n", prefix.c_str(), row.name, row.usageArgs, row.helpText);
  }
}

bool optIsShellMode() { return shellMode; }

const JavaOption* optGetOptionTable(size_t& count) {
  count = javaOptionsList.size();
  return javaOptionsList.data();
}
