// The configuration's VM options and properties, class path and boot class path, the
// path directives and the jar directory scan.
#include "config_options.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "exit_codes.h"
#include "name_value_list.h"
#include "option_directives.h"
#include "string_helpers.h"

namespace {

VmOptionList params;
VmOptionList props;
bool cfgJVMOptionsFinalized = false;
PathArray classpath;
PathArray bootclasspath;
// Absolute paths the jar scans leave out (name and value alike); none until addskippath.
std::unique_ptr<NameValueList> skipPath;
bool zepSaftyNet = true;
// Class path entries of addpath and directories of addjars that did not exist.
std::vector<std::string> missingClassPath;

void addOption(VmOptionList& list, std::string_view text, void* extraInfo) {
  if (list.capacity() == 0) list.reserve(4);
  list.push_back(VmOption{.optionString = std::string(text), .extraInfo = extraInfo});
}

bool anyBeginsWith(const VmOptionList& list, std::string_view prefix) {
  for (const VmOption& option : list)
    if (std::string_view(option.optionString).starts_with(prefix)) return true;
  return false;
}

// A name with a last '.' that is not its first character, whose extension is
// ".jar" or ".zip" in any letter case.
bool isJarName(const char* name) {
  std::string_view text(name);
  size_t dot = text.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  std::string extension(text.substr(dot));
  return strcasecmp(extension.c_str(), ".jar") == 0 || strcasecmp(extension.c_str(), ".zip") == 0;
}

}  // namespace

void cfgOptionsInit() {
  params.clear();
  props.clear();
  cfgJVMOptionsFinalized = false;
  classpath.clear();
  bootclasspath.clear();
  missingClassPath.clear();
  zepSaftyNet = std::getenv("ZEP_NO_SAFETY_NET") == nullptr;
}

void cfgOptionsTerm() {
  VmOptionList().swap(params);
  VmOptionList().swap(props);
  cfgJVMOptionsFinalized = false;
  classpath.clear();
  bootclasspath.clear();
  missingClassPath.clear();
  skipPath.reset();
  zepSaftyNet = true;
}

void cfgAddParam(std::string_view text, void* extraInfo) { addOption(params, text, extraInfo); }
void cfgAddProp(std::string_view text, void* extraInfo) { addOption(props, text, extraInfo); }
bool cfgIsParamSet(std::string_view prefix) { return anyBeginsWith(params, prefix); }
bool cfgIsPropSet(std::string_view prefix) { return anyBeginsWith(props, prefix); }

void cfgMergeJVMOptions(const VmOptionList& records) {
  for (const VmOption& record : records) cfgAddParam(record.optionString, record.extraInfo);
}

void cfgFinalizeJVMOptions() {
  if (cfgJVMOptionsFinalized) return;
  cfgMergeJVMOptions(props);
  cfgJVMOptionsFinalized = true;
}

const VmOptionList* cfgGetJavaVMOptions() { return cfgJVMOptionsFinalized ? &params : nullptr; }
size_t cfgGetJavaVMOptionsCount() { return cfgJVMOptionsFinalized ? params.size() : 0; }

std::optional<std::string> cfgGetClassPath() {
  utlRemoveFromArray(classpath, bootclasspath);
  return utlPathArrayToString(classpath);
}

std::optional<std::string> cfgGetBootClassPath() { return utlPathArrayToString(bootclasspath); }

bool cfgGetZepSafetyNet() { return zepSaftyNet; }

// Adds every jar and zip file of the directory to the array, the new entries in
// ascending order of their text ignoring case; entries already there keep their place.
// A directory that cannot be read adds nothing. Finding j2ee.jar ends the process unless
// the check is off.
//
// All new entries share the prefix "<directory>/", so their order is that of the file
// names ignoring case. The names are put in that order before they are added, each
// lower-cased once, which gives the array's own tail sort's result (ties keep listing
// order) without its per-comparison case folding: a scan stays near linear.
void cfgAddJarsToPath(const std::string& directory, PathArray& array) {
  std::string dir = utlMakeAbsPath(utlFixDirSeparators(directory), cfgIsMakePathsAbsolute());
  DIR* handle = ::opendir(dir.c_str());
  if (handle == nullptr) return;
  std::string prefix = dir.ends_with('/') ? dir : dir + "/";
  struct Candidate {
    std::string key;
    std::string path;
  };
  std::vector<Candidate> candidates;
  while (const dirent* entry = ::readdir(handle)) {
    if (strcasecmp(entry->d_name, "j2ee.jar") == 0 && zepSaftyNet && !cfgIsAllowRIEnabled()) {
      ::closedir(handle);
      std::fprintf(stderr, "Sun's J2EE Reference Implementation found in '%s/j2ee.jar'.\n", dir.c_str());
      std::fputs("Vantrel and Sun's J2EE are mutually exclusive. Uninstall J2EE.\n", stderr);
      std::exit(kExitFailure);
    }
    if (!isJarName(entry->d_name)) continue;
    std::string path = prefix + entry->d_name;
    if (skipPath && utlListGet(skipPath.get(), path) != nullptr) continue;
    std::string key(entry->d_name);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    candidates.push_back(Candidate{.key = std::move(key), .path = std::move(path)});
  }
  ::closedir(handle);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.key < b.key; });
  for (const Candidate& candidate : candidates) utlAddPathUnique(array, candidate.path, false);
}

// An entry that added nothing is a repeat or does not exist; only then is it looked at
// again, so a long class path costs no second look at each of its files.
bool cfgAddPath(const std::string& argument) {
  std::string_view state = argument;
  while (std::optional<std::string_view> component = utlStrtok(state, ":")) {
    size_t before = classpath.size();
    utlAddPathUnique(classpath, *component, cfgIsMakePathsAbsolute());
    if (classpath.size() != before) continue;
    std::string entry = utlMakeAbsPath(*component, cfgIsMakePathsAbsolute());
    if (!utlFileExists(entry)) missingClassPath.push_back(std::move(entry));
  }
  return true;
}

bool cfgAddJars(const std::string& argument) {
  std::string dir = utlMakeAbsPath(utlFixDirSeparators(argument), cfgIsMakePathsAbsolute());
  if (!utlFileExists(dir)) missingClassPath.push_back(dir);
  cfgAddJarsToPath(argument, classpath);
  return true;
}

const std::vector<std::string>& cfgGetMissingClassPath() { return missingClassPath; }

bool cfgAddBootPath(const std::string& argument) {
  utlPathStringToArray(bootclasspath, argument, cfgIsMakePathsAbsolute());
  utlRemoveFromPath(classpath, argument);
  return true;
}

bool cfgAddBootJars(const std::string& argument) {
  cfgAddJarsToPath(argument, bootclasspath);
  return true;
}

bool cfgAddSkipPath(const std::string& argument) {
  if (!skipPath) skipPath = std::make_unique<NameValueList>();
  std::string path = utlMakeAbsPath(utlFixDirSeparators(argument), cfgIsMakePathsAbsolute());
  if (utlListGet(skipPath.get(), path) == nullptr) utlListAdd(*skipPath, path, path);
  utlRemoveFromPath(classpath, path);
  return true;
}
