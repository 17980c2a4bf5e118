// The launch sequence: brings up the option, configuration and JVM-option modules,
// parses the command line, reads the configuration and walks the decision ladder.
//
// japStart2, the first step that applies decides the result:
//    1. shell mode with a socket port: hand the file arguments to a running instance
//    2. no Java home yet: search for a default installation
//    4. LD_LIBRARY_PATH incomplete: return 0 with the re-exec flag set (the entry execs)
//    5. load the VM library                                  (failure: 1)
//    6. build the final VM option list
//    7. +help -> usage text; 8. -X -> the VM's -X help       (0)
//    9. +jpda without JPDA support configured                (usage text, 1)
//   10. choose the class: version, usage or main class (or the login class)
//   11. +javacmd -> print the equivalent java command script (0)
//   12-17. create the VM, run the class, destroy the VM      (the application's status)

#include "launch_sequence.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app_arguments.h"
#include "command_line.h"
#include "command_socket.h"
#include "config_reader.h"
#include "environment.h"
#include "exit_codes.h"
#include "instance_command.h"
#include "java_command.h"
#include "jvm_discovery.h"
#include "jvm_options.h"
#include "jvm_service.h"
#include "jvm_state.h"
#include "launch_settings.h"
#include "launcher_location.h"
#include "option_directives.h"
#include "path_list.h"
#include "process_end.h"
#include "service_notify.h"
#include "signals.h"
#include "startup_cache.h"
#include "trace.h"

namespace {

std::string appName;

constexpr const char* kLoginClass = "com.orvalis.security.bootstrap.Login";
constexpr const char* kAuthClearClass = "com.orvalis.security.bootstrap.AuthClear";
constexpr const char* kLocalHost = "127.0.0.1";

// The working directory, however long; none when there is none (it was removed, or a
// directory above it cannot be read).
std::optional<std::string> workingDirectory() {
  char* name = getcwd(nullptr, 0);
  if (name == nullptr) return std::nullopt;
  std::string directory = name;
  std::free(name);
  return directory;
}

// A file argument as the running instance must see it: absolute, based on the directory
// the user started the command in. None when a relative name has no directory to be
// based on.
std::optional<std::string> absoluteFileArgument(const std::string& argument,
                                                const std::optional<std::string>& directory) {
  if (!argument.empty() && argument[0] == '/') return utlMakeAbsPath(argument, false);
  if (!directory) return std::nullopt;
  return utlMakeAbsPath(*directory + "/" + argument, false);
}

// Step 1: true when every file argument was delivered to a running instance. Nothing is
// sent unless every argument can be named absolutely: the instance must never be told
// to open a file the user did not name.
bool handToRunningInstance(int32_t port) {
  const std::vector<std::string>& files = optGetApplicationArgList();
  if (files.empty()) return false;
  const std::optional<std::string> directory = workingDirectory();
  std::vector<std::string> commands;
  for (const std::string& file : files) {
    std::optional<std::string> absolute = absoluteFileArgument(file, directory);
    if (!absolute) return false;
    commands.push_back("open " + *absolute);
  }
  for (const std::string& command : commands) {
    if (!sendCommand(kLocalHost, port, command)) return false;
  }
  return true;
}

}  // namespace

void japInit() {
  jopInit();
  optInit();
  cfgInit();
}

void japTerm() {
  cfgTerm();
  optTerm();
  jopTerm();
}

int32_t japStart(LaunchContext& context) {
  japInit();
  appName = context.args.empty() ? std::string() : context.args[0];

  std::vector<std::string> commandLine;
  if (context.args.size() > 1) commandLine.assign(context.args.begin() + 1, context.args.end());
  std::vector<std::string> arguments = commandLine;
  bool parsed = optParseArgument(arguments);

  if (!cfgProcessConfig()) {
    japTerm();
    return kExitFailure;
  }
  hmdServiceConfigRead();
  // The command line had to be parsed before the configuration could name a command
  // prefix; with one, options are spelt with it, so the command line is parsed again.
  if (!cfgGetCmdPrefix().empty()) {
    arguments = commandLine;
    parsed = optReparseArgument(arguments, static_cast<size_t>(cfgGetAppArgCount()));
  }
  optConvertDisabledArguments();

  if (!parsed) {
    japPrintHelp();
    japTerm();
    return kExitSuccess;
  }

  LaunchContext second;
  second.home = context.home;
  second.exitHook = context.exitHook;
  second.reexecFlag = context.reexecFlag;
  second.args = arguments;
  int32_t result = japStart2(second);

  if (result != 0 && result == cfgGetUsageOnExitCode()) japPrintHelp();
  // A launch that failed before the application ran is not restarted: with a restart
  // code of 1 a broken installation would otherwise restart for ever.
  context.applicationRan = second.applicationRan;
  context.restartCode = second.applicationRan ? cfgGetRestartOnExitCode() : 0;
  japTerm();
  return result;
}

int32_t japStart2(LaunchContext& context) {
  // +status and +stop answer about the running instance, without a VM.
  if (std::optional<int32_t> status = hmdRunInstanceCommand(cfgGetPidFile())) return *status;
  // 1. Shell mode: a running instance may take the files instead of a new VM.
  if (optIsShellMode() && cfgGetSocketPort() != 0) {
    if (handToRunningInstance(cfgGetSocketPort())) return kExitSuccess;
  }

  // 2. A default installation when none was named.
  if (!jopGetJavaHome()) jevConfigureDefaultJVM();

  // 3. The classes that may run.
  std::optional<std::string> mainClass = cfgGetMainClass();
  std::optional<std::string> versionClass = cfgGetVersionClass();
  std::optional<std::string> usageClass = cfgGetUsageClass();

  // 4. The library path must be complete before the VM library is loaded.
  bool localFlag = false;
  bool& reexecFlag = context.reexecFlag != nullptr ? *context.reexecFlag : localFlag;
  if (!hmdSetEnvironment(reexecFlag)) return kExitFailure;
  if (reexecFlag) return kExitSuccess;
  hmdRemoveLauncherVariables();

  // 5, 6. Load the VM library, then settle the VM's options.
  if (!jevInit()) return kExitFailure;
  jopFinalizeJVMOptions();

  // 7, 8. Help texts.
  if (optIsOptionOn("+help", true)) {
    japPrintHelp();
    return kExitSuccess;
  }
  if (optIsOptionOn("-X", false)) {
    jevPrintXUsage();
    return kExitSuccess;
  }

  // 9. +jpda needs the configuration's consent.
  if (optIsJPDAEnabled() && !cfgIsJPDASupportEnabled()) {
    ut_tproda("-jpda support not configured for this program.");
    japPrintHelp();
    return kExitFailure;
  }

  // 10. The class and method to run.
  std::string className;
  std::string method;
  bool runsApplication = false;
  if (optIsOptionOn("+version", true)) {
    if (!versionClass) {
      ut_tproda("Version class is undefined.\n");
      japPrintHelp();
      return kExitFailure;
    }
    className = *versionClass;
    method = cfgGetVersionMethod();
  } else if (optIsOptionOn("+usage", true)) {
    if (!usageClass) {
      ut_tproda("Usage class is undefined.\n");
      japPrintHelp();
      return kExitFailure;
    }
    className = *usageClass;
    method = cfgGetUsageMethod();
  } else {
    std::optional<std::string> toRun = japConfigureForSSL(mainClass);
    if (!toRun) {
      std::fputs("Main class is undefined.\n", stderr);
      return kExitFailure;
    }
    className = *toRun;
    method = cfgGetMainMethod();
    runsApplication = true;
  }

  // 11. The script instead of a start.
  if (optIsOptionOn("+javacmd", true)) {
    japPrintJavaCmd(className);
    return kExitSuccess;
  }

  // The pid file names the instance that runs the application; help, the script, a
  // version run or files handed to a running instance leave that instance's file alone.
  if (runsApplication && !hmdServiceApplicationStarts()) return kExitFailure;

  // 12. The exit hook is the last option the VM receives.
  if (context.exitHook != nullptr) jopAddParam("exit", reinterpret_cast<void*>(context.exitHook));

  // 13-17. Run the application in a VM of our own.
  hmdSetSignalActions(japSignalActions());
  int32_t code = jsvCreateJVM();
  if (code != 0 && jsvGetJavaVM() == nullptr && context.reexecFlag != nullptr && jscRetryWithoutCache()) {
    // A cache must never be why the application does not start: once more without one.
    *context.reexecFlag = true;
    return kExitSuccess;
  }
  if (code != 0) return code;
  std::string exitClass = cfgGetExitClass().value_or(std::string());
  std::string exitMethod = cfgGetExitMethod();
  code = jsvRunService(className, method, exitClass, exitMethod, optGetApplicationArgList());
  context.applicationRan = true;
  int32_t destroyed = 0;
  if (code != kExitClassNotFound) destroyed = jsvDestroyJVM();
  jscPublishCache();
  return code != 0 ? code : destroyed;
}

std::optional<std::string> japConfigureForSSL(const std::optional<std::string>& mainClass) {
  if (!mainClass) return std::nullopt;
  std::string keys = hmdGetApplicationHome(1025) + "//adm/security/keys";
  struct stat st;
  if (stat(keys.c_str(), &st) != 0) return mainClass;
  optInsertApplicationArgument(*mainClass);
  optInsertApplicationArgument(kAuthClearClass);
  return std::string(kLoginClass);
}

void japPrintHelp() {
  std::fprintf(stdout, "Usage: %s", appName.c_str());
  optPrintUsage();
  cfgPrintUsage();
  std::fflush(stdout);
}

void japStop(bool flag) { jsvAbortService(flag); }

namespace {

// A stop signal: the orderly stop while the VM runs; once the VM is gone, the end of the
// process with 128 + the signal's number (a pending restart is cancelled). Before the
// application can be stopped it is remembered: the main thread does not start it, or,
// if the exit method has become callable meanwhile, it is called now.
void stopForSignal(int32_t signal) {
  if (jsvAbortService(true, signal)) return;
  if (hmdVmHasEnded()) {
    hmdEndBySignal(signal);
    return;
  }
  hmdRememberStop(signal);
  ut_tproda("Signal [%d] held until the application can be stopped", signal);
  if (jsvGetExitTarget()) {
    if (const int stop = hmdTakeRememberedStop()) jsvAbortService(true, stop);
  }
}

}  // namespace

SignalActions japSignalActions() {
  return SignalActions{.stop = stopForSignal, .dumpStacks = japDumpAllStacks};
}

void japDumpAllStacks() { jsvDumpAllStacks(); }
