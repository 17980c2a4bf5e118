// The +javacmd script: a shell command that starts the same application, with the same
// environment, VM type, options, class and arguments, through the installation's own java
// program.
#include "java_command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app_arguments.h"
#include "command_line.h"
#include "config_macros.h"
#include "jvm_discovery.h"
#include "jvm_options.h"
#include "launch_settings.h"
#include "path_list.h"
#include "service_notify.h"

namespace {

// Options that only make sense inside the launcher, or that the script replaces: the exit
// hook, the signal switch, the working directory (the cd line) and the records of where
// options came from.
bool isLauncherOnlyOption(std::string_view option) {
  return option == "exit" || option == "-Xrs" || option.starts_with("-Duser.dir") ||
         option.starts_with("-Dlauncher.commandline") || option.starts_with("-Dlauncher.config");
}

const char* subTypeFlag(int32_t subType) {
  switch (subType) {
    case kSubTypeClassic: return " -classic";
    case kSubTypeHotspot: return " -hotspot";
    case kSubTypeClient: return " -client";
    case kSubTypeServer: return " -server";
    default: return "";
  }
}

// A name sh can export: a letter or '_', then letters, digits and '_'.
bool isShellName(const std::string& name) {
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (name.empty() || !letter(name[0])) return false;
  for (char c : name) {
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

// What the application's environment differs in from the one the launcher was started
// with: the configuration's exports (with LD_LIBRARY_PATH where addlibpath extends it),
// and the service manager's variables the launcher keeps to itself. Each line ends with a
// newline; empty when there is no difference.
std::string environmentLines() {
  std::vector<std::string> names = cfgGetExportedNames();
  if (!cfgGetShLibPath().entries().empty() &&
      std::find(names.begin(), names.end(), "LD_LIBRARY_PATH") == names.end()) {
    names.push_back("LD_LIBRARY_PATH");
  }
  std::string lines;
  for (const std::string& name : names) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) continue;
    if (!isShellName(name)) {
      lines += "# " + japShellQuote(name) + " cannot be exported by sh; the application sees it set\n";
      continue;
    }
    lines += "export " + name + "=" + japShellQuote(value) + "\n";
  }
  if (hmdGetNotifySocket()) lines += "unset NOTIFY_SOCKET WATCHDOG_USEC WATCHDOG_PID\n";
  return lines;
}

}  // namespace

std::string japShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

// Only the space makes the text a quoted word; nothing inside is escaped.
std::string japQuoteSpaces(const std::string& text) {
  if (text.find(' ') == std::string::npos) return text;
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted += text;
  quoted += '"';
  return quoted;
}

// Output: an optional environment block, an optional cd block, then one line: the java
// program, the VM type flag, the options, the class and the application arguments.
void japPrintJavaCmd(const std::string& className) {
  std::string script = environmentLines();
  if (!script.empty()) script += '\n';
  if (std::optional<std::string> dir = cfgGetCurrentDir()) {
    script += "# All paths passed to the launcher command must be absolute for this cd to be valid\n";
    script += "cd " + japQuoteSpaces(*dir) + "\n\n";
  }
  std::string program = jopGetJavaHome().value_or("") + "/bin/java";
  if (optIsOptionOn("+javag", true)) program += "_g";
  script += japQuoteSpaces(program);
  script += subTypeFlag(jevGetJVMSubType());

  if (const VmOptionList* options = jopGetJavaVMOptions()) {
    size_t count = jopGetJavaVMOptionsCount();
    for (size_t i = 0; i < count && i < options->size(); ++i) {
      const std::string& option = (*options)[i].optionString;
      if (option.starts_with("-Dlauncher.program")) {
        script += ' ';
        script += japQuoteSpaces("-Dlauncher.program=" + program);
      } else if (!isLauncherOnlyOption(option)) {
        script += ' ';
        script += japQuoteSpaces(option);
      }
    }
  }
  script += ' ';
  script += className;
  for (const std::string& argument : optGetApplicationArgList()) {
    script += ' ';
    script += japQuoteSpaces(argument);
  }
  script += '\n';
  fwrite(script.data(), 1, script.size(), stdout);
  fflush(stdout);
}
