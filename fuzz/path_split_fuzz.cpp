// Fuzzes the splitting of search paths: PATH as the launcher searches it for itself and
// for a Java installation, a library path as LD_LIBRARY_PATH and LD_PRELOAD are completed
// and cleaned, and a class path turned into a path array. The input is split at its first
// NUL byte into the path text and one element to add and remove.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config_reader.h"
#include "jvm_discovery.h"
#include "jvm_options.h"
#include "launcher_location.h"
#include "path_list.h"
#include "string_helpers.h"

namespace {

constexpr const char kVariable[] = "PATH_SPLIT_FUZZ";

bool holds(const std::vector<std::string>& elements, std::string_view value) {
  return std::find(elements.begin(), elements.end(), value) != elements.end();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cfgInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t nul = input.find('\0');
  std::string text(input.substr(0, nul));
  std::string element(nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1));
  element = element.substr(0, element.find('\0'));

  // Splitting: no empty element, none holding the separator.
  for (const std::string& part : utlSplit(text, ":")) {
    if (part.empty() || part.find(':') != std::string::npos) std::abort();
  }

  // Completing and cleaning a list variable: afterwards the element is there, then gone.
  const bool colonFree = !element.empty() && element.find(':') == std::string::npos;
  ::setenv(kVariable, text.c_str(), 1);
  utlEnforceEnvValue(kVariable, element, ":", (size & 1) != 0);
  if (colonFree && !holds(utlSplit(std::getenv(kVariable), ":"), element)) std::abort();
  utlEnforceLackOfEnvValue(kVariable, element, ":");
  if (colonFree && holds(utlSplit(std::getenv(kVariable), ":"), element)) std::abort();
  utlEnforceLackOfEnvValue(kVariable, element, " ");
  ::unsetenv(kVariable);

  // A class path: every entry absolute, normalised, existing and unique.
  PathArray array;
  utlPathStringToArray(array, text, true);
  for (const std::string& entry : array.entries()) {
    if (entry.empty() || entry[0] != '/' || !utlFileExists(entry)) std::abort();
    if (std::count(array.entries().begin(), array.entries().end(), entry) != 1) std::abort();
  }
  utlRemoveFromPath(array, element);
  (void)utlPathArrayToString(array);

  // PATH searched for the launcher itself and for a java program.
  const char* saved = std::getenv("PATH");
  std::string savedPath = saved != nullptr ? saved : "";
  ::setenv("PATH", text.c_str(), 1);
  std::string home;
  if (!element.empty() && element.find('/') == std::string::npos) hmdSetApplicationHome(element, home);
  jopInit();
  jevTerm();
  ::unsetenv("JAVA_HOME");
  jevConfigureDefaultJVM();
  jopTerm();
  jevTerm();
  ::setenv("PATH", savedPath.c_str(), 1);
  return 0;
}
