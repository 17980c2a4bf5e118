// The class path and boot class path of the VM: the configured and the command line's class
// path merged in the chosen order, each source recorded in a property of its own.
#include "class_path.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "config_options.h"
#include "exit_codes.h"
#include "jvm_discovery.h"
#include "jvm_options.h"
#include "option_directives.h"
#include "path_list.h"
#include "trace.h"

namespace {

// The command line's class path (only existing elements, no repeats); empty means none.
PathArray cmdLineCP;
int classPathLocation = kClassPathUnset;

// Length of "+classpath"; what follows it in the option selects the mode.
constexpr size_t kClassPathOptionLength = 10;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The J2EE reference implementation cannot share a VM with the product: refuse to start
// when any element of the class path is its j2ee.jar, unless the check is switched off.
void refuseReferenceImplementation(const PathArray& classPath) {
  if (!jopGetZepSafetyNet() || cfgIsAllowRIEnabled()) return;
  for (const std::string& element : classPath.entries()) {
    if (element.empty()) continue;
    size_t slash = element.rfind('/');
    std::string_view fileName = slash == std::string::npos ? std::string_view(element)
                                                           : std::string_view(element).substr(slash + 1);
    if (!equalsIgnoringCase(fileName, "j2ee.jar")) continue;
    fputs("Sun's J2EE Reference Implementation found on classpath.\n", stderr);
    fputs("Vantrel and Sun's J2EE are mutually exclusive.\n", stderr);
    fprintf(stderr, "Remove '%s' from the classpath before running any Vantrel command.\n", element.c_str());
    std::exit(kExitFailure);
  }
}

// A class path to merge: the text to use and the text the source gave before the security
// check.
struct ClassPathSource {
  const std::optional<std::string>* text;
  const std::optional<std::string>* recorded;
};

// Adds the elements of a ':'-separated source that are not yet in the list. Both sources
// are joined path arrays, whose elements were normalised and found to exist when they were
// added moments ago; as long as the security check left the text alone they are only
// de-duplicated, which spares a second look at every file of a long class path. A text the
// check changed is taken apart and checked element by element.
void mergeSource(PathArray& merged, const ClassPathSource& source) {
  if (!source.text->has_value()) return;
  const std::string& text = **source.text;
  if (text != source.recorded->value_or(std::string())) {
    utlPathStringToArray(merged, text, false);
    return;
  }
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(':', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) merged.append(text.substr(start, end - start));
    start = end + 1;
  }
}

void addBootClassPath(const std::string& bootClassPath) {
  ut_tproda("Final validation of bootclasspath");
  std::optional<std::string> secure = utlEnsurePathIsSecure(bootClassPath);
  if (!secure) return;
  jopAddParam("-Dlauncher.config.bootclasspath=" + *secure);
  if (jevGetVmInfo().version == kVersionModular) {
    ut_tproda("Boot class path cannot be prepended on this VM; appending it");
    jopAddParam("-Xbootclasspath/a:" + *secure);
  } else {
    jopAddParam("-Xbootclasspath/p:" + *secure);
  }
}

}  // namespace

// "+classpath" alone or with "/a" appends, "/p" prepends, "/r" replaces; any other ending
// (the letter in capitals) keeps the mode. The value always replaces the previous one.
void jopSetCmdLineClassPath(std::string_view option, std::string_view value) {
  std::string_view mode = option.size() > kClassPathOptionLength ? option.substr(kClassPathOptionLength) : "";
  if (mode.empty() || mode == "/a") {
    classPathLocation = kClassPathAppend;
  } else if (mode == "/p") {
    classPathLocation = kClassPathPrepend;
  } else if (mode == "/r") {
    classPathLocation = kClassPathReplace;
  }
  cmdLineCP.clear();
  utlPathStringToArray(cmdLineCP, value, false);
}

int jopGetClassPathLocation() { return classPathLocation; }

// Adds, each when it applies: the configured class path property, the command line's class
// path property, the boot class path property and option, and the merged class path.
void jopFinalizeClassPath() {
  std::optional<std::string> configured = cfgGetClassPath();
  std::optional<std::string> bootClassPath = cfgGetBootClassPath();
  std::optional<std::string> commandLine = utlPathArrayToString(cmdLineCP);

  if (configured) jopAddParam("-Dlauncher.config.classpath=" + *configured);
  if (commandLine) jopAddParam("-Dlauncher.commandline.classpath=" + *commandLine);
  if (bootClassPath) addBootClassPath(*bootClassPath);
  if (!configured && !commandLine) return;

  ut_tproda("Final validation of classpath");
  const std::optional<std::string> configuredAsRecorded = configured;
  const std::optional<std::string> commandLineAsRecorded = commandLine;
  configured = utlEnsurePathIsSecure(configured);
  commandLine = utlEnsurePathIsSecure(commandLine);
  if (!configured && !commandLine) return;

  // Repeats are dropped; a repeat keeps its first place.
  PathArray merged;
  const ClassPathSource configuredSource = {&configured, &configuredAsRecorded};
  const ClassPathSource commandLineSource = {&commandLine, &commandLineAsRecorded};
  const ClassPathSource* order[2] = {&configuredSource, &commandLineSource};
  if (classPathLocation == kClassPathPrepend) {
    order[0] = &commandLineSource;
    order[1] = &configuredSource;
  } else if (classPathLocation == kClassPathReplace) {
    order[0] = &commandLineSource;
    order[1] = nullptr;
  }
  for (const ClassPathSource* source : order) {
    if (source != nullptr) mergeSource(merged, *source);
  }

  refuseReferenceImplementation(merged);
  if (std::optional<std::string> classPath = utlPathArrayToString(merged)) {
    jopAddParam("-Djava.class.path=" + *classPath);
  } else if (classPathLocation == kClassPathReplace) {
    ut_tproda("Class path is empty after replacing it from the command line");
  }
}

void jopClassPathReset() {
  cmdLineCP.clear();
  classPathLocation = kClassPathUnset;
}
