// The process entry: records what a re-execution needs, runs the launch sequence and
// turns its result into the exit status, re-executing the launcher when asked to.
//
// Two ways lead to a fresh copy of the launcher, both through checkForRestart:
//   result 0 with the re-exec flag set  -> the environment changed (LD_LIBRARY_PATH is read
//                                          only at process start), start again
//   result == configured restart code   -> the application asked to be restarted
// The VM's exit hook (System.exit) applies the same rule from the VM's own thread.
//
// Whichever of the main thread, the exit hook and a forced exit gets to the end first
// ends (or re-executes) the process; the others wait for it (process_end.h).

#include "launcher_entry.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "environment.h"
#include "exit_codes.h"
#include "jvm_service.h"
#include "launch_sequence.h"
#include "launch_settings.h"
#include "launcher_location.h"
#include "pid_file.h"
#include "process_end.h"
#include "service_notify.h"
#include "startup_cache.h"
#include "string_helpers.h"
#include "supervision.h"
#include "trace.h"

namespace {

// Process-wide by design: set once at start, read by a re-execution at any later time.
int original_argc = 0;
char** original_argv = nullptr;
std::optional<std::string> original_workingdir;
bool returned_thru_main = false;
// The restart code of the configuration, kept here because the configuration module is
// torn down before the restart decision is made.
int32_t restartCode = 0;
// Descriptors the process was started with; everything else is closed across exec.
std::set<int> inheritedDescriptors;
// Whether the re-execution under way restarts the application (not the library-path one).
bool reexecIsRestart = false;

// Runs on the thread that ends the process, once: the service manager hears of the end or
// of the restart, and the pid file outlives a re-execution, which is the same process.
void atProcessEnd(int32_t status, bool reexec) {
  if (reexec) {
    hmdKeepPidFileAcrossReexec();
    hmdServiceBeforeReexec(reexecIsRestart);
    hmdSupervisionBeforeReexec(reexecIsRestart);
    jscHandToReexec();
  } else {
    hmdServiceProcessEnds(status);
  }
}

std::set<int> openDescriptors() {
  std::set<int> fds;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    int fd = std::atoi(entry->d_name);
    if (fd != own) fds.insert(fd);
  }
  closedir(dir);
  return fds;
}

// The VM opens its modules file and the class path jars without close-on-exec; without
// this every restart would leave more of them open in the new image.
void closeAcquiredDescriptorsOnExec() {
  for (int fd : openDescriptors()) {
    if (fd < 3 || inheritedDescriptors.count(fd) != 0) continue;
    int flags = fcntl(fd, F_GETFD);
    if (flags != -1) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

std::optional<std::string> currentDirectory() {
  std::vector<char> buffer(1024);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return std::nullopt;
  return std::string(buffer.data());
}

}  // namespace

int32_t checkForRestart(int32_t code, bool reexecFlag) {
  bool reexec = (code == 0 && reexecFlag) || (code != 0 && code == restartCode);
  if (!reexec) return code;
  if (!(code == 0 && reexecFlag) && !hmdSupervisionBeforeRestart(code)) return code;
  // The new image's variables are this thread's to set from here on.
  hmdClaimEnd();

  ut_tproda("Reset CWD to '%.*s'", ut_textLimit(),
            original_workingdir ? original_workingdir->c_str() : "(null)");
  if (original_workingdir && chdir(original_workingdir->c_str()) != 0) {
    // Going on from wherever we are is all that is left.
  }
  ut_tproda("Exec'ing '%.*s' to restart server.....", ut_textLimit(), original_argv[0]);
  std::fflush(nullptr);
  closeAcquiredDescriptorsOnExec();
  // The file located at start, not a PATH search for argv[0]: with an empty PATH entry
  // and a bare argv[0] that search could run a file of the same name in the working
  // directory. The argument vector, argv[0] included, goes over as received.
  const std::string launcher = hmdGetFullLauncherFileName(std::string::npos);
  hmdHandToReexec();
  reexecIsRestart = !(code == 0 && reexecFlag);
  int error = hmdReexec(launcher.c_str(), original_argv);
  std::fprintf(stderr, "Unable to re-exec self [error=%d]\n", error);
  return error;
}

namespace {

// The VM watch found the VM hung: the application restarts in place, as its restart
// code would have it, counted by the restart limit.
void restartInPlace(int32_t status) {
  hmdClaimEnd();
  restartCode = status;
  hmdEndProcess(checkForRestart(status, false));
}

}  // namespace

void JVMExitHandler(int32_t status) {
  // The main thread or a forced exit may be ending the process already; then this
  // thread waits for that end. From here a stop signal cancels a restart.
  hmdClaimEnd();
  hmdVmEnded();
  restartCode = cfgGetRestartOnExitCode();
  jscPublishCache();
  japTerm();
  ut_tproda("VM exited with java.lang.System.exit(%d)", status);
  if (jsvIgnoreVMExitCode()) {
    // Main has returned: an exit with 128 + a stop signal's number is the VM's own stop
    // during the destruction, and a stop from the end of main on cancels a restart.
    if (status == 128 + SIGHUP || status == 128 + SIGINT || status == 128 + SIGTERM)
      hmdNoteStop(status - 128);
    status = jsvInternalExitCode();
    ut_tproda("Using return code (%d) from main class to determine restart", status);
  }
  if (jscTraining()) hmdEndProcess(jscTrainingStatus());
  hmdEndProcess(checkForRestart(status, false));
}

// The VM gave up during its creation and is about to end the process: with cache options,
// the launcher starts once more without them, as after a creation that returned a failure.
void creationAbortHandler() {
  if (jscRetryWithoutCache()) hmdEndProcess(checkForRestart(0, true));
}

void atExitHandler() {
  hmdRemovePidFile();
  hmdRemoveFilesAtEnd();
  if (returned_thru_main) return;
  if (std::optional<std::string> file = cfgGetExportEnv()) hmdDeleteTempFile(*file);
  ut_tproda("C runtime exit() was called");
}

int launcherMain(int argc, char** argv) {
  // Before anything opens a descriptor or a signal can find the default disposition.
  hmdProcessStart();
  inheritedDescriptors = openDescriptors();
  bool reexecByte = false;
  // Before the environment snapshot, so that neither it nor the VM sees the marker.
  hmdTakeReexecMarker();
  hmdServiceTakeEnvironment();
  hmdTakePidFileFromReexec();
  jscTakeEnvironment();
  hmdSupervisionTakeEnvironment(restartInPlace);
  hmdSetEndListener(atProcessEnd);
  // From here a stop ends the process with every end duty: the pid file named by a
  // re-execution is registered and the notification socket prepared.
  hmdAcceptStops();

  if (std::atexit(atExitHandler) != 0) {
    std::fputs("Warning: Failed to register atexit() handler\n", stdout);
  }
  utlInit();

  original_argc = argc;
  original_argv = argv;
  original_workingdir = currentDirectory();

  std::string home;
  if (argc < 1 || argv[0] == nullptr || !hmdSetApplicationHome(argv[0], home)) {
    std::fputs("Can't get home directory\n", stderr);
    hmdEndProcess(kExitNoHome);
  }

  LaunchContext context;
  context.home = home;
  context.args.assign(argv, argv + argc);
  context.exitHook = JVMExitHandler;
  jsvSetCreationAbortHandler(creationAbortHandler);
  context.reexecFlag = &reexecByte;

  int32_t result = japStart(context);
  restartCode = context.restartCode;

  utlTerm();
  returned_thru_main = true;
  if (jscTraining() && !reexecByte) hmdEndProcess(jscTrainingStatus());
  hmdEndProcess(checkForRestart(result, reexecByte));
}
