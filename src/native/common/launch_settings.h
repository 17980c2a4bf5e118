// Launch-setting directives: classes, Java home and VM, exit codes, VM options and
// properties, heap sizes, socket, environment hand-over, working directory, arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "path_list.h"

enum class ReadinessMode { Main, Return, Port, Http };
struct Readiness {
  ReadinessMode mode = ReadinessMode::Main;
  int32_t port = 0;  // for ReadinessMode::Port and Http, 1 to 65535
  std::string path;  // for ReadinessMode::Http: the request's path, "/" by default
};
// The longest path "readiness http" takes.
constexpr size_t kReadinessPathMax = 1024;

void cfgSettingsInit();
void cfgSettingsTerm();

// Where percentage heap sizes take the memory size from; null: getTotalPhysMem.
// Reset by cfgSettingsTerm.
using TotalMemoryQuery = uint64_t (*)();
void cfgSetTotalMemoryQuery(TotalMemoryQuery query);

bool cfgAddLibPath(const std::string& argument);
bool cfgSetJavaHome(const std::string& argument);
bool cfgSetJavaPath(const std::string& argument);
bool cfgSetVMType(const std::string& argument);
bool cfgSetMainClass(const std::string& argument);
bool cfgSetMainJar(const std::string& argument);
bool cfgSetMainMethod(const std::string& argument);
bool cfgSetVersionClass(const std::string& argument);
bool cfgSetUsageClass(const std::string& argument);
bool cfgSetExitClass(const std::string& argument);
bool cfgSetRestartOnExitCode(const std::string& argument);
bool cfgSetUsageOnExitCode(const std::string& argument);
bool cfgSetVMParam(const std::string& argument);
bool cfgSetVMProp(const std::string& argument);
bool cfgSetVMMemMin(const std::string& argument);
bool cfgSetVMMemMax(const std::string& argument);
bool cfgSetNoSplash(const std::string& argument);
bool cfgSetSocketPort(const std::string& argument);
bool cfgSetCopyEnv(const std::string& argument);
bool cfgSetExportEnv(const std::string& argument);
bool cfgSetCurrentDir(const std::string& argument);
bool cfgSetDaemonSupport(const std::string& argument);
bool cfgAddAppArg(const std::string& argument);
// readiness main | return | port N | http N [PATH]: when the service manager is told the
// application is ready (the main method called, the main method returned, this process
// listening on port N, an HTTP status line from port N for PATH).
bool cfgSetReadiness(const std::string& argument);
// pidfile PATH: the file that holds the launcher's process id while it runs.
bool cfgSetPidFile(const std::string& argument);
// startupcache DIR: where the start-up caches of the application are kept.
bool cfgSetStartupCache(const std::string& argument);
// How many application arguments the configuration put in front of the command line's.
int32_t cfgGetAppArgCount();

const PathArray& cfgGetShLibPath();
std::optional<std::string> cfgGetMainClass();
std::string cfgGetMainMethod();
std::optional<std::string> cfgGetVersionClass();
std::string cfgGetVersionMethod();
std::optional<std::string> cfgGetUsageClass();
std::string cfgGetUsageMethod();
std::optional<std::string> cfgGetExitClass();
std::string cfgGetExitMethod();
// Whether an exitclass directive named the exit class (else it is the main class).
bool cfgIsExitClassConfigured();
int32_t cfgGetRestartOnExitCode();
int32_t cfgGetUsageOnExitCode();
int32_t cfgGetSocketPort();
std::optional<std::string> cfgGetExportEnv();
std::optional<std::string> cfgGetCurrentDir();
bool cfgGetDaemonSupport();
std::optional<std::string> cfgGetDaemonLogDir();
Readiness cfgGetReadiness();
std::optional<std::string> cfgGetPidFile();
std::optional<std::string> cfgGetStartupCacheDir();
