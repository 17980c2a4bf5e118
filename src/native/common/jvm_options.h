// The VM's option list: command-line and configured options, the launcher's own
// properties and the debugging options, finalised once. Also the Java home and path.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One VM option: the option text and an opaque reference passed on to the VM.
struct VmOption {
  std::string optionString;
  void* extraInfo = nullptr;
};
using VmOptionList = std::vector<VmOption>;

void jopInit();
void jopTerm();

void jopAddParam(std::string_view text, void* extraInfo = nullptr);
void jopAddProp(std::string_view text, void* extraInfo = nullptr);
// Forgets the command line's options, properties and class path (before finalisation).
void jopDropCommandLineOptions();
// Some command-line property begins with the prefix.
bool jopIsPropSet(std::string_view prefix);
// Appends copies of the records to the option list.
void jopMergeJVMOptions(const VmOptionList& records);
// Appends "-D<name>=" with the records' texts joined by line feeds (nothing for no records).
void jopConsolidateParams(std::string_view name, const VmOptionList& records);

void jopSetJavaHome(std::string_view home);
std::optional<std::string> jopGetJavaHome();
void jopSetJavaPath(std::string_view path);
std::optional<std::string> jopGetJavaPath();
// Whether ZEP_NO_SAFETY_NET was absent when the module started.
bool jopGetZepSafetyNet();

// Builds the final list; later calls do nothing.
void jopFinalizeJVMOptions();
// The final list; null until finalised.
const VmOptionList* jopGetJavaVMOptions();
size_t jopGetJavaVMOptionsCount();
