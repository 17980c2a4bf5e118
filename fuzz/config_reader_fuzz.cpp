// Fuzzes the configuration reader over an arbitrary file. The variables SELF and DIR name
// the file and its directory, so include and includedir lines can lead back to it; a
// first byte with its low bit set also appends a line that includes the file itself.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "command_line.h"
#include "config_macros.h"
#include "config_reader.h"
#include "jvm_options.h"

extern char** environ;

namespace {

std::string directory;
std::string configFile;
std::vector<std::string> initialEnvironment;

// export and the directives change the process environment; put it back after each run.
void restoreEnvironment() {
  std::set<std::string> names;
  for (const std::string& entry : initialEnvironment) names.insert(entry.substr(0, entry.find('=')));
  std::vector<std::string> added;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    if (names.count(name) == 0) added.push_back(name);
  }
  for (const std::string& name : added) ::unsetenv(name.c_str());
  for (const std::string& entry : initialEnvironment) {
    size_t equals = entry.find('=');
    ::setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  directory = "/tmp/config-reader-fuzz-" + std::to_string(::getpid());
  std::filesystem::create_directories(directory + "/d");
  configFile = directory + "/main.config";
  for (char** e = environ; *e != nullptr; ++e) initialEnvironment.emplace_back(*e);
  std::atexit([] { std::filesystem::remove_all(directory); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(configFile.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  if (size > 0 && (data[0] & 1) != 0) std::fprintf(file, "\ninclude %s\n", configFile.c_str());
  std::fclose(file);

  jopInit();
  optInit();
  cfgInit();
  cfgAddVar("SELF=" + configFile);
  cfgAddVar("DIR=" + directory);
  cfgInclude(configFile);
  cfgTerm();
  optTerm();
  jopTerm();
  restoreEnvironment();
  // Whatever the directives created below the directory goes with it.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
    if (entry.path() != configFile && entry.path() != directory + "/d") std::filesystem::remove_all(entry, ignored);
  }
  return 0;
}
