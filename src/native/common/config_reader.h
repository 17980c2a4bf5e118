// The configuration reader: choosing the file, reading its lines, dispatching directives,
// include and includedir. Owns the configuration module's start and end.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

void cfgInit();
void cfgTerm();

// Reads the whole configuration; false after the first error (already reported).
bool cfgProcessConfig();
bool cfgProcessConfigFile(const std::string& fileName);
// The absolute file name for a given name, or the default name for none or "".
std::string cfgGetConfigFileName(std::optional<std::string_view> name);
int cfgSetConfigFileMode(int mode);
int cfgGetConfigFileMode();
// The configuration file being read (or the main one once reading is done).
std::optional<std::string> cfgGetCurrentConfigFile();

// The +config file name; false for a name the reader refuses.
bool cfgSetDefaultConfigFile(std::string_view name);
const std::string& cfgGetDefaultConfigFile();

bool cfgInclude(const std::string& argument);
bool cfgIncludeDir(const std::string& argument);

// One row of the directive table.
struct Directive {
  const char* name;
  bool (*handler)(const std::string& argument);
  bool parameterRequired;
  // null: the generic message; kSuppressed: the handler reports for itself.
  const char* errorFormat;
};
inline constexpr const char* kSuppressed = "";

// The directive table, in lookup order.
const Directive* cfgGetDirectiveTable(size_t& count);
