// Fuzzes the reader of an installation's jvm.cfg. Two installations are built once, a
// modular one (the 1.4 format with its markers) and a 1.3 JRE (the markerless format),
// each with a client and a server library; the first byte picks the installation, the
// rest is its jvm.cfg.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config_reader.h"
#include "jvm_discovery.h"
#include "jvm_library.h"
#include "jvm_options.h"

namespace {

std::string directory;
std::string modularHome;
std::string legacyHome;

void touch(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::trunc) << "x";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  directory = "/tmp/jvm-config-fuzz-" + std::to_string(::getpid());
  modularHome = directory + "/modular";
  legacyHome = directory + "/jre13";
  for (const char* file : {"/lib/modules", "/bin/java", "/lib/server/libjvm.so", "/lib/client/libjvm.so"}) {
    touch(modularHome + file);
  }
  const std::string arch = std::string("/lib/") + LAUNCHER_JDK_ARCH;
  for (std::string file :
       {std::string("/bin/java"), std::string("/bin/tnameserv"), std::string("/lib/jvm.cfg"),
        arch + "/server/libjvm.so", arch + "/client/libjvm.so"}) {
    touch(legacyHome + file);
  }
  std::atexit([] { std::filesystem::remove_all(directory); });
  cfgInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool legacy = (data[0] & 1) != 0;
  const std::string home = legacy ? legacyHome : modularHome;
  {
    std::ofstream cfg(home + "/lib/jvm.cfg", std::ios::binary | std::ios::trunc);
    cfg.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  jevTerm();
  jmdReset();
  jopInit();
  jopSetJavaHome(home);
  std::string dir;
  bool found = jevGetJavaVMLibDir(dir);
  int32_t subType = jevGetJVMSubType();
  // A usable line sets one of the four sub-types, and its library directory exists.
  if (found && (subType < kSubTypeClassic || subType > kSubTypeServer)) std::abort();
  if (found && !std::filesystem::is_directory(dir)) std::abort();
  if (!found && subType != kSubTypeDefault) std::abort();
  jopTerm();
  jevTerm();
  jmdReset();
  return 0;
}
