// The VM library on Linux: its name, where it and jvm.cfg lie in an installation, the
// directories it needs on LD_LIBRARY_PATH, the registered installation, and loading it.
#include "jvm_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "command_line.h"
#include "jvm_options.h"
#include "string_helpers.h"
#include "trace.h"

namespace {

// The JDK's own name for the architecture directory of legacy layouts.
constexpr const char* kArch = LAUNCHER_JDK_ARCH;
constexpr const char* kDefaultJavaHome = "/usr/lib/jvm/default-java";

std::optional<std::string> jvmSharedLib;

const char* vmDirFor(int32_t subType) { return subType == kSubTypeServer ? "server/" : "client/"; }

std::string linkerError() {
  const char* text = dlerror();
  return text != nullptr ? text : "";
}

}  // namespace

const std::string& getJVMSharedLib() {
  if (!jvmSharedLib) jvmSharedLib = optIsOptionOn("+javag", true) ? "libjvm_g.so" : "libjvm.so";
  return *jvmSharedLib;
}

std::optional<std::string> jmdIsThisJVMInstalled() {
  const char* javaHome = std::getenv("JAVA_HOME");
  if (javaHome != nullptr && *javaHome != '\0' && jevBasicJDKJREChecks(javaHome))
    return std::string(javaHome);
  if (jevBasicJDKJREChecks(kDefaultJavaHome)) return std::string(kDefaultJavaHome);
  return std::nullopt;
}

// Layouts, with H the home and V "client/" or "server/":
//   modular          H/lib/V libjvm.so
//   legacy JRE       H/lib/<arch>/V libjvm.so
//   legacy JDK       H/jre/lib/<arch>/V libjvm.so
void jmdGetJVMSharedLib(std::string& dest, std::string_view home, const VmInfo& info) {
  std::string h(home);
  const std::string tail = std::string(vmDirFor(info.subType)) + getJVMSharedLib();
  if (info.version == kVersionModular) {
    dest = h + "/lib/" + tail;
  } else if (info.jvmType == kJvmTypeJRE) {
    dest = h + "/lib/" + kArch + "/" + tail;
  } else if (info.jvmType == kJvmTypeJDK) {
    dest = h + "/jre/lib/" + kArch + "/" + tail;
  }
}

// jvm.cfg: H/lib/jvm.cfg in modular installations; in legacy ones under lib/ (JRE) or
// jre/lib/ (JDK), directly for the 1.3 layout and in the <arch> directory for 1.4.
void jmdGetJVMConfigFile(std::string& dest, std::string_view home, const VmInfo& info) {
  std::string h(home);
  if (info.version == kVersionModular) {
    dest = h + "/lib/jvm.cfg";
    return;
  }
  const std::string arch = info.version == kVersion14 ? std::string("/") + kArch : std::string();
  if (info.jvmType == kJvmTypeJRE) {
    dest = h + "/lib" + arch + "/jvm.cfg";
  } else if (info.jvmType == kJvmTypeJDK) {
    dest = h + "/jre/lib" + arch + "/jvm.cfg";
  }
}

bool jmdLoadJavaVM(InvocationFunctions& table) {
  const std::string& name = getJVMSharedLib();
  const std::string file = jopGetJavaPath().value_or(name);
  const int mode = RTLD_GLOBAL | (std::getenv("LD_BIND_NOW") != nullptr ? RTLD_NOW : RTLD_LAZY);
  // The VM is never unloaded: it cannot be, and its threads may outlive any scope here.
  void* handle = dlopen(file.c_str(), mode);
  if (handle == nullptr) {
    std::fprintf(stderr, "Error loading Java VM library: %s [%s]\n", name.c_str(), linkerError().c_str());
    return false;
  }
  dlerror();
  std::string missing;
  table.createJavaVM = reinterpret_cast<CreateJavaVMFn>(dlsym(handle, "JNI_CreateJavaVM"));
  if (table.createJavaVM == nullptr) missing = linkerError();
  table.getDefaultJavaVMInitArgs =
      reinterpret_cast<GetDefaultJavaVMInitArgsFn>(dlsym(handle, "JNI_GetDefaultJavaVMInitArgs"));
  if (table.getDefaultJavaVMInitArgs == nullptr && missing.empty()) missing = linkerError();
  table.dumpAllStacks = reinterpret_cast<DumpAllStacksFn>(dlsym(handle, "JVM_DumpAllStacks"));
  dlerror();
  if (table.createJavaVM == nullptr || table.getDefaultJavaVMInitArgs == nullptr) {
    std::fprintf(stderr, "Can't find JNI interfaces in: %s [%s]\n", name.c_str(), missing.c_str());
    return false;
  }
  ut_tproda("Loaded Java VM Library %.*s from LD_LIBRARY_PATH", ut_textLimit(), name.c_str());
  return true;
}

// Each directory goes to the front of LD_LIBRARY_PATH unless it is there already, so a
// legacy JDK that needed everything ends with
//   <home>/lib/<arch> : <P>/native_threads : <library dir> : <P> [: previous value]
// where P is the library directory's parent; a modular installation needs only
//   <home>/lib/server : <home>/lib [: previous value]
bool jmdSetJavaEnvironment(bool& reexecFlag) {
  std::string libDir;
  if (!jevGetJavaVMLibDir(libDir)) return false;
  const std::string parent = libDir.substr(0, libDir.rfind('/'));
  std::vector<std::string> required = {parent, libDir};
  const VmInfo& info = jevGetVmInfo();
  if (info.version != kVersionModular) {
    const std::string arch = parent.substr(parent.rfind('/') + 1);
    required.push_back(parent + "/native_threads");
    if (info.jvmType == kJvmTypeJDK) required.push_back(jevGetJVMHome() + "/lib/" + arch);
  }
  for (const std::string& dir : required) {
    if (utlEnforceEnvValue("LD_LIBRARY_PATH", dir, ":", true)) reexecFlag = true;
  }
  ut_tproda("*setenv=%d", reexecFlag ? 1 : 0);
  return true;
}

void jmdClearJavaEnvironment() {
  std::string libDir;
  if (!jevGetJavaVMLibDir(libDir)) return;
  utlEnforceLackOfEnvValue("LD_PRELOAD", libDir + "/" + getJVMSharedLib(), " ");
}

void jmdReset() { jvmSharedLib.reset(); }
