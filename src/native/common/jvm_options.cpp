// STUB: placeholder until the module is written.
#include "jvm_options.h"

#include <cstdlib>

void jopInit() {}
void jopTerm() {}
void jopAddParam(std::string_view, void*) {}
void jopAddProp(std::string_view, void*) {}
bool jopIsPropSet(std::string_view) { return {}; }
void jopMergeJVMOptions(const VmOptionList&) {}
void jopConsolidateParams(std::string_view, const VmOptionList&) {}
void jopSetJavaHome(std::string_view) {}
std::optional<std::string> jopGetJavaHome() { return {}; }
void jopSetJavaPath(std::string_view) {}
std::optional<std::string> jopGetJavaPath() { return {}; }
bool jopGetZepSafetyNet() { return {}; }
void jopFinalizeJVMOptions() {}
const VmOptionList* jopGetJavaVMOptions() { return nullptr; }
size_t jopGetJavaVMOptionsCount() { return {}; }
