// Finding and classifying the Java installation: the default home from PATH, the
// JDK/JRE, release family and vendor tests, the VM sub-type from jvm.cfg, the VM
// library's directory, loading it, and the VM's -X help.
#include "jvm_discovery.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "command_line.h"
#include "jvm_library.h"
#include "jvm_options.h"
#include "line_reader.h"
#include "option_directives.h"
#include "path_list.h"
#include "trace.h"

extern char** environ;

namespace {

// Longest Java home and candidate file name the launcher works with.
constexpr size_t kMaxPath = 1024;

VmInfo vmInfo;
std::string vmHome;
InvocationFunctions ifn;

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A regular file (links followed) that someone may execute.
bool isExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

bool isSymlink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The home a ".../bin/java" belongs to: the name without its last two components.
std::string homeOfJavaProgram(const std::string& program) {
  std::string home = program;
  for (int i = 0; i < 2; ++i) {
    size_t slash = home.rfind('/');
    if (slash == std::string::npos) return ".";
    home.resize(slash);
  }
  return home.empty() ? "/" : home;
}

// Today's installations: lib/modules (the runtime image, a regular file) beside bin/java.
bool checkModularLayout(const std::string& home) {
  if (!isRegularFile(home + "/lib/modules") || !exists(home + "/bin/java")) return false;
  vmInfo.jvmType = exists(home + "/bin/javac") ? kJvmTypeJDK : kJvmTypeJRE;
  vmInfo.version = kVersionModular;
  vmInfo.vendor = kVendorSun;
  ut_tproda("JVM appears to be Java 9 or later (modular layout)");
  return true;
}

std::string libraryPathFor(int32_t subType) {
  VmInfo info = vmInfo;
  info.subType = subType;
  std::string path;
  jmdGetJVMSharedLib(path, vmHome, info);
  return path;
}

// Closes the jvm.cfg reader on every way out.
struct FilFileCloser {
  void operator()(FilFile* file) const { filCloseFile(file); }
};

std::vector<std::string_view> wordsOf(std::string_view line) {
  std::vector<std::string_view> words;
  size_t pos = 0;
  while (pos < line.size()) {
    size_t start = line.find_first_not_of(" \t", pos);
    if (start == std::string_view::npos) break;
    size_t end = line.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = line.size();
    words.push_back(line.substr(start, end - start));
    pos = end;
  }
  return words;
}

int32_t subTypeOfWord(std::string_view word) {
  if (word == "-client") return kSubTypeClient;
  if (word == "-server") return kSubTypeServer;
  if (word == "-hotspot") return kSubTypeHotspot;
  if (word == "-classic") return kSubTypeClassic;
  return kSubTypeDefault;
}

// The VM's jvm.cfg lists the VM variants of the installation, one a line, blank and
// '#' lines aside:
//
//   line  := variant [ marker [ word ... ] ]
//   variant := "-client" | "-server" | "-hotspot" | "-classic"   (anything else: ignored)
//   marker  := "KNOWN" | "WARN" | "ALIASED_TO" | any other word (e.g. "IGNORE")
//
// The 1.3 format knows no markers: a variant is usable only when alone on its line.
// The 1.4 format (also that of the modular installations) needs one of the three
// markers; an ALIASED_TO line is taken for its own variant. The first usable line whose
// variant has its library in the installation sets the sub-type.
bool readJVMConfigFile() {
  std::string path;
  jmdGetJVMConfigFile(path, vmHome, vmInfo);
  std::unique_ptr<FilFile, FilFileCloser> file(filOpenFile(path, "r", false));
  if (!file) {
    std::fprintf(stderr, "Error: Unable to open configuration file '%s'.\n", path.c_str());
    return false;
  }
  const bool markerless = vmInfo.version == kVersion13;
  while (std::optional<std::string_view> read = filReadNextLineFromFile(file.get())) {
    const std::string line(*read);
    vmInfo.subType = kSubTypeDefault;
    std::vector<std::string_view> words = wordsOf(line);
    int32_t candidate = words.empty() ? kSubTypeDefault : subTypeOfWord(words[0]);
    bool acceptable = false;
    if (candidate != kSubTypeDefault) {
      if (markerless) {
        acceptable = words.size() == 1;
      } else {
        acceptable =
            words.size() >= 2 && (words[1] == "KNOWN" || words[1] == "WARN" || words[1] == "ALIASED_TO");
      }
    }
    if (acceptable && exists(libraryPathFor(candidate))) {
      vmInfo.subType = candidate;
      ut_tproda("Processed <%.*s> from <%.*s>", ut_textLimit(), line.c_str(), ut_textLimit(1), path.c_str());
      break;
    }
    ut_tproda("Ignored <%.*s> from <%.*s>", ut_textLimit(), line.c_str(), ut_textLimit(1), path.c_str());
  }
  if (filHasReadError(file.get())) {
    std::fprintf(stderr, "Error: Unable to read configuration file '%s' - error %d.\n", path.c_str(), 32);
    vmInfo.subType = kSubTypeDefault;
    return false;
  }
  if (vmInfo.subType == kSubTypeDefault) {
    std::fprintf(stderr, "Error: No JVM found in '%s'.\n", path.c_str());
    return false;
  }
  return true;
}

// Runs the installation's own java -X and copies what it writes to standard output.
bool copyJavaXOutput(const std::string& java) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::string arg0 = java;
  std::string arg1 = "-X";
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, java.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return false;
  }
  std::fflush(stdout);
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    std::fwrite(buffer, 1, static_cast<size_t>(n), stdout);
  }
  ::close(fds[0]);
  std::fflush(stdout);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // posix_spawn reports an exec failure either itself or as the child's status 127.
  return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

// Why a directory is not an installation this launcher can use.
std::string whyNotAnInstallation(const std::string& home) {
  struct stat info {};
  if (home.size() > kMaxPath) return "its name is longer than 1024 characters";
  if (::stat(home.c_str(), &info) != 0) return "it does not exist";
  if (!S_ISDIR(info.st_mode)) return "it is not a directory";
  if (!exists(home + "/bin/java")) return "it has no bin/java";
  if (!exists(home + "/bin/tnameserv"))
    return "it has neither lib/modules (Java 9 and later) nor bin/tnameserv (older releases)";
  return "it has no jvm.cfg where its release keeps one";
}

// Says which directory was tried and why it failed, or that none was found.
void explainNoInstallation(const std::optional<std::string>& home) {
  if (home && !home->empty()) {
    std::fprintf(stderr, "Java home '%.*s' was tried: %s.\n", ut_textLimit(), home->c_str(),
                 whyNotAnInstallation(*home).c_str());
    return;
  }
  std::fputs(
      "No Java home is configured (javahome, +javahome) and none was found along PATH, in JAVA_HOME or at "
      "/usr/lib/jvm/default-java.\n",
      stderr);
  const char* javaHome = std::getenv("JAVA_HOME");
  if (javaHome != nullptr && *javaHome != '\0') {
    std::fprintf(stderr, "JAVA_HOME '%.*s' was passed over: %s.\n", ut_textLimit(), javaHome,
                 whyNotAnInstallation(javaHome).c_str());
  }
}

}  // namespace

bool jevInit() {
  ifn = InvocationFunctions{};
  bool loaded = jmdLoadJavaVM(ifn);
  if (loaded && ifn.dumpAllStacks != nullptr) ut_tproda("JVM is 1.3.1_01 or later");
  return loaded;
}

void jevTerm() {
  vmInfo = VmInfo{};
  vmHome.clear();
  ifn = InvocationFunctions{};
}

const InvocationFunctions& jevGetInvocationFunction() { return ifn; }
void jevSetInvocationFunction(const InvocationFunctions& functions) { ifn = functions; }
const VmInfo& jevGetVmInfo() { return vmInfo; }
int32_t jevGetJVMType() { return vmInfo.jvmType; }
int32_t jevGetJVMSubType() { return vmInfo.subType; }
void jevSetJVMSubType(int32_t subType) { vmInfo.subType = subType; }
std::string jevGetJVMHome() { return vmHome; }

void jevConfigureDefaultJVM() {
  if (cfgIsAllowJavaOnPathEnabled()) {
    const char* pathValue = std::getenv("PATH");
    PathArray dirs;
    if (pathValue != nullptr) utlPathStringToArray(dirs, pathValue, false);
    for (const std::string& dir : dirs.entries()) {
      std::string java = dir + "/java";
      if (java.size() > kMaxPath || !isExecutableFile(java)) continue;
      std::string home = homeOfJavaProgram(java);
      if (jevBasicJDKJREChecks(home)) {
        jopSetJavaHome(home);
        return;
      }
      // Distributions link bin/java through a chain of links into the installation.
      if (!isSymlink(java)) continue;
      char resolved[PATH_MAX];
      if (::realpath(java.c_str(), resolved) == nullptr) continue;
      home = homeOfJavaProgram(resolved);
      if (jevBasicJDKJREChecks(home)) {
        jopSetJavaHome(home);
        return;
      }
    }
  }
  if (std::optional<std::string> installed = jmdIsThisJVMInstalled()) jopSetJavaHome(*installed);
}

bool jevBasicJVMChecks(const std::string& home) {
  const bool jdk = vmInfo.jvmType == kJvmTypeJDK;
  if (!exists(home + (jdk ? "/bin/javac" : "/bin/java")) || !exists(home + "/bin/tnameserv")) return false;
  if (exists(home + (jdk ? "/jre" : "") + "/bin/liborb.so")) {
    vmInfo.version = kVersion13;
    vmInfo.vendor = kVendorIBM;
    ut_tproda("JVM appears to be Java 2 - assuming it's IBM 1.3.1");
    return true;
  }
  vmInfo.vendor = kVendorSun;
  VmInfo probe = vmInfo;
  std::string config;
  probe.version = kVersion13;
  jmdGetJVMConfigFile(config, home, probe);
  if (exists(config)) {
    vmInfo.version = kVersion13;
    ut_tproda("JVM appears to be Sun Java 2 v1.3");
    return true;
  }
  probe.version = kVersion14;
  config.clear();
  jmdGetJVMConfigFile(config, home, probe);
  if (exists(config)) {
    vmInfo.version = kVersion14;
    ut_tproda("JVM appears to be Sun Java 2 v1.4");
    return true;
  }
  return false;
}

bool jevBasicJDKJREChecks(const std::string& home) {
  if (checkModularLayout(home)) return true;
  vmInfo.jvmType = kJvmTypeJDK;
  if (jevBasicJVMChecks(home)) return true;
  vmInfo.jvmType = kJvmTypeJRE;
  return jevBasicJVMChecks(home);
}

bool jevDetermineJVMType() {
  std::optional<std::string> home = jopGetJavaHome();
  if (home && !home->empty() && *home != vmHome) {
    ut_tproda("JavaHome has been reset to '%.*s'", ut_textLimit(), home->c_str());
    vmHome = home->size() <= kMaxPath ? *home : std::string();
    if (!vmHome.empty() && jevBasicJDKJREChecks(vmHome)) return true;
    vmHome.clear();
  }
  if (!vmHome.empty()) return true;
  std::string message;
  cfgIsJVMVersionAcceptable(nullptr, &message);
  std::fprintf(stderr, "Unable to find a supported JDK or JRE version. %s\n", message.c_str());
  explainNoInstallation(home);
  std::fprintf(stderr, "Check your installation and use %sjavahome to specify the JDK or JRE location\n",
               "+");
  return false;
}

bool jevGetJavaVMLibDir(std::string& dir) {
  if (!jevDetermineJVMType()) return false;
  if (exists(vmHome + "/lib/j2ee.jar") && std::getenv("ZEP_NO_SAFETY_NET") == nullptr &&
      !cfgIsAllowRIEnabled()) {
    std::fprintf(stderr, "Sun's J2EE Reference Implementation found in %s.\n", vmHome.c_str());
    std::fputs("Vantrel requires J2SE, not J2EE.\n", stderr);
    return false;
  }
  if (vmInfo.subType == kSubTypeDefault) {
    if (vmInfo.vendor == kVendorIBM) {
      vmInfo.subType = kSubTypeClassic;
    } else if (!readJVMConfigFile()) {
      return false;
    }
  }
  std::string library = libraryPathFor(vmInfo.subType);
  if (!library.empty() && exists(library)) {
    dir = library.substr(0, library.rfind('/'));
    ut_tproda("JVM shared library dir is %.*s", ut_textLimit(), dir.c_str());
    return true;
  }
  ut_tproda("No JVM shared library at %.*s", ut_textLimit(), library.c_str());
  std::fprintf(stderr, "Unable to find a suitable Java VM in %s\n", vmHome.c_str());
  return false;
}

void jevPrintXUsage() {
  std::string dir;
  if (!jevGetJavaVMLibDir(dir) || dir.empty()) return;
  if (vmInfo.version == kVersionModular) {
    // Modular installations carry no Xusage.txt; their java prints the list itself.
    if (!copyJavaXOutput(vmHome + "/bin/java"))
      std::fputs("Unable to get -X options list from this VM. Try 'java -X'.\n", stderr);
    return;
  }
  std::string path = dir + "/Xusage.txt";
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    if (vmInfo.vendor == kVendorIBM)
      std::fputs("Unable to get -X options list from this VM. Try 'java -X'.\n", stderr);
    else
      std::fprintf(stderr, "Can't open %s\n", path.c_str());
    return;
  }
  char piece[128];
  size_t n = 0;
  while ((n = std::fread(piece, 1, sizeof piece, file)) > 0) std::fwrite(piece, 1, n, stdout);
  std::fclose(file);
  std::fflush(stdout);
}
