// Launch-setting directives: what to run (classes, Java home, VM), the exit codes, VM
// options, properties and heap sizes, socket, environment hand-over, working directory
// and configured application arguments.
#include "launch_settings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app_arguments.h"
#include "config_options.h"
#include "environment.h"
#include "jar_manifest.h"
#include "jvm_discovery.h"
#include "jvm_options.h"
#include "option_directives.h"
#include "path_list.h"
#include "process_end.h"
#include "string_helpers.h"
#include "sysinfo.h"
#include "trace.h"

namespace {

constexpr uint64_t kMebibyte = 1048576;
// A 32-bit VM cannot address a larger heap; a 64-bit one has no ceiling (0).
constexpr uint64_t kHeapCeilingMiB = sizeof(void*) == 4 ? 1024 : 0;
// Heap options are formed in a 120-byte buffer; longer ones are refused.
constexpr size_t kHeapOptionMax = 119;

PathArray shlibpath;
std::optional<std::string> mainClass;
std::optional<std::string> mainMethod;
// The Main-Class of the mainjar directive's jar: the class to run where mainclass names none.
std::optional<std::string> mainJarClass;
std::optional<std::string> versionClass;
std::optional<std::string> versionMethod;
std::optional<std::string> usageClass;
std::optional<std::string> usageMethod;
std::optional<std::string> exitClass;
std::optional<std::string> exitMethod;
int32_t restartCode = 0;
int32_t usageCode = 0;
int32_t socketPort = 0;
std::optional<std::string> exportEnv;
std::optional<std::string> currentDir;
bool daemonSupport = false;
std::optional<std::string> daemonLogDir;
std::optional<std::string> startupCacheDir;
int32_t firstCommandOptionAppArg = 1;
Readiness readiness;
std::optional<std::string> pidFile;
TotalMemoryQuery totalMemoryQuery = nullptr;

struct VMTypeName {
  const char* name;
  int32_t subType;
};
constexpr VMTypeName vmTypeList[] = {
    {.name = "classic", .subType = kSubTypeClassic},    {.name = "hotspot", .subType = kSubTypeHotspot},
    {.name = "client", .subType = kSubTypeClient},      {.name = "server", .subType = kSubTypeServer},
    {.name = "jvmdefault", .subType = kSubTypeDefault},
};

// Class and method argument: "pkg.Class" keeps the method; "pkg.Class.method()" sets both;
// "method()" gives the empty class.
void cfgSplitClassIntoClassAndMethod(const std::string& argument, std::optional<std::string>& classSlot,
                                     std::optional<std::string>& methodSlot) {
  classSlot = argument;
  if (argument.size() > 2 && argument.ends_with("()")) {
    std::string text = argument.substr(0, argument.size() - 2);
    size_t dot = text.rfind('.');
    if (dot == std::string::npos) {
      methodSlot = text;
      classSlot = std::string();
    } else {
      methodSlot = text.substr(dot + 1);
      classSlot = text.substr(0, dot);
    }
  }
}

// A whole decimal 32-bit number, leading white space and a sign allowed.
std::optional<int32_t> parseWholeNumber(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(start, &end, 10);
  if (end == start || *end != '\0' || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
    return std::nullopt;
  return static_cast<int32_t>(value);
}

// The leading decimal number of the text, 0 when there is none, clamped to the range.
long long leadingNumber(const std::string& text, long long low, long long high) {
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  return value < low ? low : value > high ? high : value;
}

void addProperty(const std::string& text) { cfgAddProp("-D" + text); }

// Heap size V for "-Xms" or "-Xmx": "auto" anywhere leaves it to the VM; "N%" takes N
// percent of the memory in whole MiB (and, for the maximum, no more than the memory
// itself); anything else is passed as given. A share below 1 MiB leaves the heap to the
// VM. Only a 32-bit VM is held at 1 GiB: its address space allows no more.
bool setHeapSize(const std::string& value, const char* flag, bool maximum) {
  if (value.find("auto") != std::string::npos) return true;
  std::string option;
  if (!value.ends_with('%')) {
    option = flag + value;
  } else {
    long long percent = leadingNumber(value, -1000000, 1000000);
    uint64_t total = totalMemoryQuery != nullptr ? totalMemoryQuery() : getTotalPhysMem();
    ut_tproda("\t*** The OS returned a total physical memory of %lld Megabytes",
              static_cast<long long>(total / kMebibyte));
    if (total == 0) {
      ut_tproda("\t*** Cannot detect total memory in the system, leaving it up to the VM");
      return true;
    }
    // At most 2^44 MiB times 10^6 percent: the product fits in 64 unsigned bits.
    const uint64_t memoryMiB = total / kMebibyte;
    uint64_t megabytes = percent > 0 ? memoryMiB * static_cast<uint64_t>(percent) / 100 : 0;
    if (megabytes < 1) {
      ut_tproda("\t*** The share of memory is below 1 MiB; leaving the heap size to the VM");
      return true;
    }
    if (kHeapCeilingMiB != 0 && megabytes > kHeapCeilingMiB) {
      ut_tproda("\t*** We're trying to auto address more then 1Gb, let's jump back to 1Gb");
      megabytes = kHeapCeilingMiB;
    }
    if (maximum && megabytes > memoryMiB) megabytes = memoryMiB;
    option = flag + std::to_string(megabytes) + "m";
  }
  if (option.size() > kHeapOptionMax) return false;
  ut_tproda("\t*** We passed the following memory parameter to the VM: %.*s", ut_textLimit(), option.c_str());
  cfgAddParam(option);
  return true;
}

void deleteExportFile(const std::string& name) {
  hmdDeleteTempFile(name);
  hmdKeepAtEnd(name);
}

}  // namespace

void cfgSettingsInit() {
  mainClass.reset();
  mainJarClass.reset();
  mainMethod = "main";
  versionClass.reset();
  versionMethod.reset();
  usageClass.reset();
  usageMethod.reset();
  exitClass.reset();
  exitMethod.reset();
  restartCode = 0;
  usageCode = 0;
  exportEnv.reset();
  currentDir.reset();
  daemonSupport = false;
  daemonLogDir.reset();
  readiness = Readiness{};
  pidFile.reset();
  startupCacheDir.reset();
}

void cfgSettingsTerm() {
  if (exportEnv) deleteExportFile(*exportEnv);
  cfgSettingsInit();
  mainMethod.reset();
  shlibpath.clear();
  socketPort = 0;
  firstCommandOptionAppArg = 1;
  totalMemoryQuery = nullptr;
}

void cfgSetTotalMemoryQuery(TotalMemoryQuery query) { totalMemoryQuery = query; }

bool cfgAddLibPath(const std::string& argument) {
  utlPathStringToArray(shlibpath, argument, cfgIsMakePathsAbsolute());
  return true;
}

bool cfgSetJavaHome(const std::string& argument) {
  if (jopGetJavaHome()) {
    ut_tproda("Javahome already set - not setting it to <%.*s>", ut_textLimit(), argument.c_str());
  } else {
    jopSetJavaHome(utlMakeAbsPath(argument, cfgIsMakePathsAbsolute()));
  }
  return true;
}

bool cfgSetJavaPath(const std::string& argument) {
  if (jopGetJavaPath()) {
    ut_tproda("Javapath already set - not setting it to <%.*s>", ut_textLimit(), argument.c_str());
    return true;
  }
  jopSetJavaPath(argument);
  if (jopGetJavaHome()) ut_tproda("Javapath will override your previously set Javahome");
  return true;
}

bool cfgSetVMType(const std::string& argument) {
  if (jevGetJVMSubType() != kSubTypeDefault) {
    ut_tproda("VMType already set - not setting it to <%.*s>", ut_textLimit(), argument.c_str());
    return true;
  }
  for (const VMTypeName& row : vmTypeList) {
    if (argument == row.name) {
      if (row.subType != kSubTypeDefault) jevSetJVMSubType(row.subType);
      return true;
    }
  }
  return false;
}

bool cfgSetMainClass(const std::string& argument) {
  cfgSplitClassIntoClassAndMethod(argument, mainClass, mainMethod);
  return true;
}

// An executable jar, as java -jar takes it: the jar and the files its Class-Path names join
// the class path, its Main-Class runs unless mainclass names another, and the packages its
// Add-Opens and Add-Exports name are opened or exported to the class path's classes.
bool cfgSetMainJar(const std::string& argument) {
  std::string jar = utlMakeAbsPath(utlFixDirSeparators(argument), cfgIsMakePathsAbsolute());
  std::optional<std::string> manifest = zipReadJarManifest(jar);
  if (!manifest) return false;
  cfgAddPath(jar);
  if (std::optional<std::string> classPath = zipManifestAttribute(*manifest, "Class-Path")) {
    for (const std::string& file : zipManifestClassPath(*classPath, jar)) cfgAddPath(file);
  }
  for (auto [attribute, option] :
       {std::pair{"Add-Opens", "--add-opens="}, std::pair{"Add-Exports", "--add-exports="}}) {
    std::string value = zipManifestAttribute(*manifest, attribute).value_or("");
    std::string_view packages = value;
    while (std::optional<std::string_view> package = utlStrtok(packages, " ")) {
      cfgAddParam(std::string(option).append(*package).append("=ALL-UNNAMED"));
    }
  }
  mainJarClass = zipManifestAttribute(*manifest, "Main-Class");
  if (mainJarClass) {
    ut_tproda("\t* Main class <%.*s> from the manifest of <%.*s>", ut_textLimit(), mainJarClass->c_str(),
              ut_textLimit(), jar.c_str());
  } else {
    ut_tproda("\t* The manifest of <%.*s> names no main class", ut_textLimit(), jar.c_str());
  }
  return true;
}

bool cfgSetMainMethod(const std::string& argument) {
  mainMethod = argument;
  return true;
}

bool cfgSetVersionClass(const std::string& argument) {
  cfgSplitClassIntoClassAndMethod(argument, versionClass, versionMethod);
  return true;
}

bool cfgSetUsageClass(const std::string& argument) {
  cfgSplitClassIntoClassAndMethod(argument, usageClass, usageMethod);
  return true;
}

bool cfgSetExitClass(const std::string& argument) {
  cfgSplitClassIntoClassAndMethod(argument, exitClass, exitMethod);
  return true;
}

bool cfgSetRestartOnExitCode(const std::string& argument) {
  std::optional<int32_t> code = parseWholeNumber(argument);
  if (!code) return false;
  restartCode = *code;
  return true;
}

bool cfgSetUsageOnExitCode(const std::string& argument) {
  std::optional<int32_t> code = parseWholeNumber(argument);
  if (!code) return false;
  usageCode = *code;
  return true;
}

bool cfgSetVMParam(const std::string& argument) {
  cfgAddParam(argument);
  return true;
}

bool cfgSetVMProp(const std::string& argument) {
  addProperty(argument);
  return true;
}

bool cfgSetVMMemMin(const std::string& argument) { return setHeapSize(argument, "-Xms", false); }
bool cfgSetVMMemMax(const std::string& argument) { return setHeapSize(argument, "-Xmx", true); }

bool cfgSetNoSplash(const std::string&) { return cfgAddAppArg("-nosplash"); }

bool cfgSetSocketPort(const std::string& argument) {
  long long port = leadingNumber(argument, LLONG_MIN, LLONG_MAX);
  if (port == 0 || port < INT32_MIN || port > INT32_MAX) return false;
  addProperty("vantrel.socket=" + std::to_string(port));
  socketPort = static_cast<int32_t>(port);
  return true;
}

bool cfgSetCopyEnv(const std::string& argument) {
  std::optional<std::string> value = hmdGetEnvironmentValue(argument.c_str());
  if (value) addProperty("vantrel.copyenv." + argument + "=" + *value);
  return true;
}

bool cfgSetExportEnv(const std::string&) {
  std::optional<std::string> name;
  {
    // No stop signal between the file's creation and its registration: it is removed at
    // every end of the process, a death by signal included.
    StopSignalsHeld held;
    name = hmdWriteTempFile(std::nullopt);
    if (name) hmdRemoveAtEnd(*name);
  }
  if (!name) return false;
  // A repeated exportenv replaces the file; the one it replaces is not left behind.
  if (exportEnv) deleteExportFile(*exportEnv);
  exportEnv = name;
  addProperty("vantrel.exportenv=" + *name);
  ut_tproda("\t* Set vantrel.exportenv to <%.*s>", ut_textLimit(), name->c_str());
  return true;
}

bool cfgSetCurrentDir(const std::string& argument) {
  currentDir = utlMakeAbsPath(utlFixDirSeparators(argument), cfgIsMakePathsAbsolute());
  return true;
}

bool cfgSetDaemonSupport(const std::string& argument) {
  daemonLogDir = utlMakeAbsPath(utlFixDirSeparators(argument), cfgIsMakePathsAbsolute());
  daemonSupport = true;
  return true;
}

// Always based on the configuration file's directory when relative: the caches must not
// move with the working directory.
bool cfgSetStartupCache(const std::string& argument) {
  startupCacheDir = utlMakeAbsPath(utlFixDirSeparators(argument), true);
  return true;
}

bool cfgAddAppArg(const std::string& argument) {
  optInsertApplicationArgumentN(argument, firstCommandOptionAppArg);
  ++firstCommandOptionAppArg;
  return true;
}

namespace {

// A whole decimal port number, 1 to 65535, of at most five digits.
std::optional<int32_t> readinessPort(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 5) {
    return std::nullopt;
  }
  long port = std::strtol(text.c_str(), nullptr, 10);
  if (port < 1 || port > 65535) return std::nullopt;
  return static_cast<int32_t>(port);
}

// A path that goes into a request line as it stands: '/' first, then visible ASCII only
// (no space, no control character that could end the line early).
bool isRequestPath(const std::string& text) {
  if (text.empty() || text[0] != '/' || text.size() > kReadinessPathMax) return false;
  return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

}  // namespace

// "main", "return", "port N" or "http N [PATH]", the words apart by spaces or tabs.
bool cfgSetReadiness(const std::string& argument) {
  std::vector<std::string> words;
  for (size_t start = argument.find_first_not_of(" \t"); start != std::string::npos;
       start = argument.find_first_not_of(" \t", start)) {
    size_t end = argument.find_first_of(" \t", start);
    words.push_back(argument.substr(start, end == std::string::npos ? std::string::npos : end - start));
    start = end;
  }
  if (words.size() == 1 && (argument == "main" || argument == "return")) {
    readiness = Readiness{};
    readiness.mode = argument == "main" ? ReadinessMode::Main : ReadinessMode::Return;
    return true;
  }
  if (words.empty() || argument.compare(0, words[0].size(), words[0]) != 0) return false;
  const bool http = words[0] == "http";
  if ((words[0] != "port" && !http) || words.size() < 2 || words.size() > (http ? 3u : 2u)) return false;
  std::optional<int32_t> port = readinessPort(words[1]);
  if (!port) return false;
  std::string path = words.size() == 3 ? words[2] : "/";
  if (http && !isRequestPath(path)) return false;
  readiness = Readiness{.mode = http ? ReadinessMode::Http : ReadinessMode::Port, .port = *port,
                        .path = http ? path : std::string()};
  return true;
}

bool cfgSetPidFile(const std::string& argument) {
  pidFile = utlMakeAbsPath(utlFixDirSeparators(argument), cfgIsMakePathsAbsolute());
  return !pidFile->empty();
}

int32_t cfgGetAppArgCount() { return firstCommandOptionAppArg - 1; }

const PathArray& cfgGetShLibPath() { return shlibpath; }
std::optional<std::string> cfgGetMainClass() { return mainClass ? mainClass : mainJarClass; }
std::string cfgGetMainMethod() { return mainMethod.value_or("main"); }
std::optional<std::string> cfgGetVersionClass() { return versionClass; }
std::string cfgGetVersionMethod() { return versionMethod.value_or("main"); }
std::optional<std::string> cfgGetUsageClass() { return usageClass; }
std::string cfgGetUsageMethod() { return usageMethod.value_or("main"); }
std::optional<std::string> cfgGetExitClass() { return exitClass ? exitClass : cfgGetMainClass(); }
bool cfgIsExitClassConfigured() { return exitClass.has_value(); }
std::string cfgGetExitMethod() { return exitMethod.value_or("cleanup"); }
int32_t cfgGetRestartOnExitCode() { return restartCode; }
int32_t cfgGetUsageOnExitCode() { return usageCode; }
int32_t cfgGetSocketPort() { return socketPort; }
std::optional<std::string> cfgGetExportEnv() { return exportEnv; }
std::optional<std::string> cfgGetCurrentDir() { return currentDir; }
bool cfgGetDaemonSupport() { return daemonSupport; }
std::optional<std::string> cfgGetDaemonLogDir() { return daemonLogDir; }
Readiness cfgGetReadiness() { return readiness; }
std::optional<std::string> cfgGetPidFile() { return pidFile; }
std::optional<std::string> cfgGetStartupCacheDir() { return startupCacheDir; }
