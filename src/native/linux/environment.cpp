// Environment preparation before the VM library is loaded (LD_LIBRARY_PATH and the
// re-exec decision), the environment snapshot and private temporary files.
#include "environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "jvm_library.h"
#include "launch_settings.h"
#include "launcher_location.h"
#include "process_end.h"
#include "string_helpers.h"
#include "trace.h"

extern char** environ;

namespace {

constexpr const char kTempTemplate[] = "/tmp/vantrel-envdump-XXXXXX";
constexpr const char kLibraryPath[] = "LD_LIBRARY_PATH";
constexpr const char kEnvChecked[] = "LAUNCHER_ENV_CHECKED";
// Set for the process that a library-path re-exec starts, and taken out again at its
// start, so that the VM and its children never see it. Its value names the variables
// the pass before set for itself, separated by ':'.
constexpr const char kReexecMarker[] = "LAUNCHER_LIBRARY_PATH_REEXEC";

// This process was started by a library-path re-exec.
bool reexeced = false;
// The variables the pass before this one set for itself (from the marker).
std::vector<std::string> setByLauncher;

// A variable taken out of the environment before the VM is created, so that neither the
// application nor the processes it starts see it.
struct RemovedVariable {
  const char* name;
  // Only when a pass of this launcher set it; as the operator gave it, it stays.
  bool onlyWhenSetByLauncher;
};

constexpr RemovedVariable kRemovedBeforeVM[] = {
    {.name = kEnvChecked, .onlyWhenSetByLauncher = true},
};

// LAUNCHER_ENV_CHECKED was taken out before the VM: a restart as root gets it back.
bool envCheckedRemoved = false;

void removeVariables(std::span<const RemovedVariable> list) {
  for (const RemovedVariable& variable : list) {
    bool ours = std::find(setByLauncher.begin(), setByLauncher.end(), variable.name) != setByLauncher.end();
    if (variable.onlyWhenSetByLauncher && !ours) continue;
    if (std::getenv(variable.name) == nullptr) continue;
    ut_tproda("Removing %s from the environment", variable.name);
    ::unsetenv(variable.name);
    if (std::string_view(variable.name) == kEnvChecked) envCheckedRemoved = true;
  }
}

}  // namespace

void hmdTakeReexecMarker() {
  const char* value = std::getenv(kReexecMarker);
  reexeced = value != nullptr;
  setByLauncher.clear();
  envCheckedRemoved = false;
  if (value != nullptr) setByLauncher = utlSplit(value, ":");
  ::unsetenv(kReexecMarker);
}

void hmdRemoveLauncherVariables() { removeVariables(kRemovedBeforeVM); }

void hmdHandToReexec() {
  hmdHandLocationToReexec();
  // The library path this process completed is still complete: a restart as root need not
  // re-execute once more, and takes the variable out again before its own VM.
  if (envCheckedRemoved && std::getenv(kReexecMarker) == nullptr) {
    hmdReexecVariable(kEnvChecked, "true");
    hmdReexecVariable(kReexecMarker, kEnvChecked);
  }
}

// The runtime linker reads LD_LIBRARY_PATH only at process start, so a path that had to
// change means running the launcher again:
//
//   root, no marker     -> start from an empty path; if anything was added, set
//                          LAUNCHER_ENV_CHECKED=true and re-execute (once)
//   root, marker set    -> if anything still had to be added, the linker will not take it
//                          from the environment (secure mode): refuse with the directories
//   not root            -> re-execute when anything was added, unless this process is
//                          itself such a re-exec: then go on (the configuration may set
//                          the variable itself, or the Java home hold a ':', so that the
//                          path never looks complete and every pass would exec again)
//   nothing added       -> go on; the VM library is taken out of LD_PRELOAD
bool hmdSetEnvironment(bool& reexecFlag) {
  reexecFlag = false;
  const bool root = ::geteuid() == 0;
  const bool checked = std::getenv(kEnvChecked) != nullptr;
  if (root && !checked) ::setenv(kLibraryPath, "", 1);

  if (!jmdSetJavaEnvironment(reexecFlag)) return false;
  for (const std::string& dir : cfgGetShLibPath().entries()) {
    if (utlEnforceEnvValue(kLibraryPath, dir, ":", false)) reexecFlag = true;
  }

  if (!reexecFlag) {
    jmdClearJavaEnvironment();
    return true;
  }
  const char* value = std::getenv(kLibraryPath);
  if (value == nullptr) value = "";
  ut_tproda("export LD_LIBRARY_PATH=%.*s", ut_textLimit(), value);
  if (!root && reexeced) {
    ut_tproda("LD_LIBRARY_PATH is still incomplete after the re-exec; going on without another one");
    reexecFlag = false;
    jmdClearJavaEnvironment();
    return true;
  }
  if (!root || !checked) {
    if (root) ::setenv(kEnvChecked, "true", 1);
    ::setenv(kReexecMarker, root ? kEnvChecked : "", 1);
    return true;
  }
  std::fputs("Unable to start with setuid to root privileges.\n", stderr);
  std::fputs("The following must be in the trusted directories list (see ldconfig(8)):\n", stderr);
  std::fprintf(stderr, "\t%s\n", value);
  return false;
}

std::string hmdGetEnvironmentBytes() {
  std::string block;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    block += *entry;
    block += '\0';
  }
  block += '\0';
  return block;
}

std::optional<std::u16string> hmdGetEnvironmentChars() { return std::nullopt; }

std::optional<std::string> hmdGetEnvironmentValue(const char* name) {
  const char* value = name != nullptr ? std::getenv(name) : nullptr;
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> hmdWriteTempFile(std::optional<std::string_view> content) {
  if (content && content->empty()) return std::nullopt;
  char name[sizeof kTempTemplate];
  std::copy(std::begin(kTempTemplate), std::end(kTempTemplate), name);
  int fd = ::mkstemp(name);
  if (fd < 0) {
    std::fputs("Unable to create temporary file.\n", stderr);
    return std::nullopt;
  }
  ::fchmod(fd, 0600);
  std::FILE* stream = ::fdopen(fd, "w");
  if (stream == nullptr) {
    ::close(fd);
    std::fputs("Failed to write to temporary file.\n", stderr);
    return std::string(name);
  }
  bool written = true;
  if (content) written = std::fwrite(content->data(), 1, content->size(), stream) == content->size();
  if (std::fclose(stream) != 0) written = false;
  if (!written) std::fputs("Failed to write to temporary file.\n", stderr);
  return std::string(name);
}

void hmdWriteFileContent(const std::string& path, std::string_view text) {
  std::FILE* stream = std::fopen(path.c_str(), "w");
  if (stream == nullptr) {
    std::fprintf(stderr, "Unable to open '%s'.\n", path.c_str());
    return;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  if (std::fclose(stream) != 0) written = false;
  if (!written) std::fprintf(stderr, "Failed to write to '%s'.\n", path.c_str());
}

void hmdDeleteTempFile(const std::string& name) { ::unlink(name.c_str()); }
