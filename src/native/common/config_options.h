// The configuration's VM options and properties, class path and boot class path,
// the path directives and the jar directory scan.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jvm_options.h"
#include "path_list.h"

void cfgOptionsInit();
void cfgOptionsTerm();

void cfgAddParam(std::string_view text, void* extraInfo = nullptr);
void cfgAddProp(std::string_view text, void* extraInfo = nullptr);
bool cfgIsParamSet(std::string_view prefix);
bool cfgIsPropSet(std::string_view prefix);
void cfgMergeJVMOptions(const VmOptionList& records);
void cfgFinalizeJVMOptions();
// The options, properties behind them, once finalised; null before.
const VmOptionList* cfgGetJavaVMOptions();
size_t cfgGetJavaVMOptionsCount();
std::optional<std::string> cfgGetClassPath();
std::optional<std::string> cfgGetBootClassPath();
void cfgAddJarsToPath(const std::string& directory, PathArray& array);
// Whether the J2EE reference implementation check is active.
bool cfgGetZepSafetyNet();

bool cfgAddPath(const std::string& argument);
bool cfgAddJars(const std::string& argument);
// The addpath entries and addjars directories that did not exist, as made absolute.
const std::vector<std::string>& cfgGetMissingClassPath();
bool cfgAddBootPath(const std::string& argument);
bool cfgAddBootJars(const std::string& argument);
bool cfgAddSkipPath(const std::string& argument);
