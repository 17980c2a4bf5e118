// STUB: placeholder until the module is written.
#include "config_options.h"

#include <cstdlib>

void cfgOptionsInit() {}
void cfgOptionsTerm() {}
void cfgAddParam(std::string_view, void*) {}
void cfgAddProp(std::string_view, void*) {}
bool cfgIsParamSet(std::string_view) { return {}; }
bool cfgIsPropSet(std::string_view) { return {}; }
void cfgMergeJVMOptions(const VmOptionList&) {}
void cfgFinalizeJVMOptions() {}
const VmOptionList* cfgGetJavaVMOptions() { return nullptr; }
size_t cfgGetJavaVMOptionsCount() { return {}; }
std::optional<std::string> cfgGetClassPath() { return {}; }
std::optional<std::string> cfgGetBootClassPath() { return {}; }
void cfgAddJarsToPath(const std::string&, PathArray&) {}
bool cfgGetZepSafetyNet() { return {}; }
bool cfgAddPath(const std::string&) { return {}; }
bool cfgAddJars(const std::string&) { return {}; }
bool cfgAddBootPath(const std::string&) { return {}; }
bool cfgAddBootJars(const std::string&) { return {}; }
bool cfgAddSkipPath(const std::string&) { return {}; }
