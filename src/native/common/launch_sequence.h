// The launch sequence: the decision ladder from the parsed command line to the exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the entry hands to the launch sequence, and the sequence to its second stage.
struct LaunchContext {
  std::string home;
  std::vector<std::string> args;  // args[0] is the program name in the first stage
  void (*exitHook)(int32_t status) = nullptr;  // never returns
  bool* reexecFlag = nullptr;
  // The configured restart code, recorded before the configuration is torn down.
  int32_t restartCode = 0;
  // Set once the application class has run; only its status may ask for a restart.
  bool applicationRan = false;
};

void japInit();
void japTerm();
int32_t japStart(LaunchContext& context);
int32_t japStart2(LaunchContext& context);
// The class to run: the login class when the home holds adm/security/keys.
std::optional<std::string> japConfigureForSSL(const std::optional<std::string>& mainClass);
void japPrintHelp();
void japStop(bool flag);
void japDumpAllStacks();
// What the signal handling does for a stop signal and for quit.
struct SignalActions;
SignalActions japSignalActions();
