// The VM's option list: the command line's options and properties, merged once with the
// configuration's and the launcher's own into the final list the VM is created with.
#include "jvm_options.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <utility>

#include "app_arguments.h"
#include "class_path.h"
#include "config_options.h"
#include "jvm_discovery.h"
#include "launch_settings.h"
#include "launcher_location.h"
#include "option_directives.h"
#include "startup_cache.h"

namespace {

// Before finalisation: the command line's -X and -verbose options. After it: the final list.
VmOptionList params;
// The command line's -D options, kept for jopIsPropSet.
VmOptionList props;
bool jopJVMOptionsFinalized = false;
std::optional<std::string> javaHome;
std::optional<std::string> javaPath;
bool zepSaftyNet = true;

// The launcher's file name is given the room that the property name leaves of this many
// characters.
constexpr size_t kLauncherPropertyRoom = 1064;

void addRecord(VmOptionList& list, std::string_view text, void* extraInfo) {
  if (list.capacity() == 0) list.reserve(4);
  list.push_back(VmOption{std::string(text), extraInfo});
}

void addLauncherFileProperty(std::string_view prefix) {
  size_t room = prefix.size() < kLauncherPropertyRoom ? kLauncherPropertyRoom - prefix.size() : 0;
  std::string option(prefix);
  option += hmdGetFullLauncherFileName(room + 1);
  jopAddParam(option);
}

// The debugging options. Modular VMs take only the agent form; older ones need the debug
// switches first and, without a HotSpot sub-type, the JIT turned off.
void addJPDAOptions() {
  bool modular = jevGetVmInfo().version == kVersionModular;
  if (!modular) {
    jopAddParam("-Xdebug");
    jopAddParam("-Xnoagent");
    int32_t subType = jevGetJVMSubType();
    if (subType == kSubTypeDefault || subType == kSubTypeClassic) jopAddParam("-Djava.compiler=");
  }
  std::optional<std::string> address = optGetJPDAAddr();
  // A host in the address means the VM connects out to a waiting debugger.
  const char* server = address && address->find(':') != std::string::npos ? "n" : "y";
  const char* suspend = optIsJPDAStartPaused() ? "y" : "n";
  std::string option = modular ? "-agentlib:jdwp=transport=dt_socket,server=" : "-Xrunjdwp:transport=dt_socket,server=";
  option += server;
  option += ",suspend=";
  option += suspend;
  if (address) {
    option += ",address=";
    option += *address;
  }
  jopAddParam(option);
}

}  // namespace

void jopTerm() {
  params = VmOptionList();
  props = VmOptionList();
  javaHome.reset();
  javaPath.reset();
  jopJVMOptionsFinalized = false;
  jopClassPathReset();
  jscTerm();
}

void jopInit() {
  jopTerm();
  zepSaftyNet = std::getenv("ZEP_NO_SAFETY_NET") == nullptr;
}

void jopAddParam(std::string_view text, void* extraInfo) { addRecord(params, text, extraInfo); }

void jopAddProp(std::string_view text, void* extraInfo) { addRecord(props, text, extraInfo); }

void jopDropCommandLineOptions() {
  if (jopJVMOptionsFinalized) return;
  params.clear();
  props.clear();
  jopClassPathReset();
}

bool jopIsPropSet(std::string_view prefix) {
  for (const VmOption& record : props) {
    if (record.optionString.starts_with(prefix)) return true;
  }
  return false;
}

void jopMergeJVMOptions(const VmOptionList& records) {
  // The records may be params itself; take the count first so the copies are not copied again.
  size_t count = records.size();
  for (size_t i = 0; i < count; ++i) {
    VmOption record = records[i];
    addRecord(params, record.optionString, record.extraInfo);
  }
}

// "-D<name>=" followed by the option texts separated by single line feeds.
void jopConsolidateParams(std::string_view name, const VmOptionList& records) {
  if (records.empty()) return;
  std::string property;
  property.reserve(1024);
  property += "-D";
  property += name;
  property += '=';
  for (size_t i = 0; i < records.size(); ++i) {
    if (i > 0) property += '\n';
    property += records[i].optionString;
  }
  jopAddParam(property);
}

void jopSetJavaHome(std::string_view home) { javaHome = std::string(home); }
std::optional<std::string> jopGetJavaHome() { return javaHome; }
void jopSetJavaPath(std::string_view path) { javaPath = std::string(path); }
std::optional<std::string> jopGetJavaPath() { return javaPath; }
bool jopGetZepSafetyNet() { return zepSaftyNet; }

// The final list reads: the configuration's options (properties behind them), the command
// line's VM options, its properties, the two consolidated records of what each source gave,
// the class path options, then the launcher's own properties and switches.
void jopFinalizeJVMOptions() {
  if (jopJVMOptionsFinalized) return;
  cfgFinalizeJVMOptions();
  jopMergeJVMOptions(props);
  jopConsolidateParams("launcher.commandline.params", params);
  const VmOptionList* configured = cfgGetJavaVMOptions();
  VmOptionList configuredOptions;
  if (configured != nullptr) {
    size_t count = std::min(cfgGetJavaVMOptionsCount(), configured->size());
    configuredOptions.assign(configured->begin(), configured->begin() + static_cast<std::ptrdiff_t>(count));
  }
  jopConsolidateParams("launcher.config.params", configuredOptions);

  VmOptionList commandLineSet = std::exchange(params, VmOptionList());
  jopMergeJVMOptions(configuredOptions);
  jopMergeJVMOptions(commandLineSet);

  jopFinalizeClassPath();
  if (jevGetJVMType() == kJvmTypeJDK) jopAddParam("-Dlauncher.jdk.home=" + jevGetJVMHome());
  addLauncherFileProperty("-Dlauncher.program=");
  addLauncherFileProperty("-Dvantrel.executable.path=");
  if (std::optional<std::string> dir = cfgGetCurrentDir()) jopAddParam("-Duser.dir=" + *dir);
  if (cfgIsHandleShutdownEnabled() && jevGetInvocationFunction().dumpAllStacks != nullptr) jopAddParam("-Xrs");
  if (optIsJPDAEnabled()) addJPDAOptions();

  // The start-up cache depends on the whole list; its options go beside the configured ones.
  VmOptionList cacheOptions;
  for (const std::string& option : jscPrepare(params)) cacheOptions.push_back(VmOption{option, nullptr});
  params.insert(params.begin() + static_cast<std::ptrdiff_t>(configuredOptions.size()), cacheOptions.begin(),
                cacheOptions.end());
  jopJVMOptionsFinalized = true;
}

const VmOptionList* jopGetJavaVMOptions() { return jopJVMOptionsFinalized ? &params : nullptr; }

size_t jopGetJavaVMOptionsCount() { return jopJVMOptionsFinalized ? params.size() : 0; }
