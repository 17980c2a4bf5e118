// The pid file: one line with the process id, made under a temporary name in the same
// directory and renamed into place, so a reader never sees a half-written file.
//
//   file absent, unreadable or not a number    -> written
//   names this process (a re-execution)        -> written again
//   names a process that is gone               -> replaced
//   names a live process of another program    -> replaced (its id was reused)
//   names a live process of this launcher      -> refused, status 1
#include "pid_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "process_end.h"
#include "trace.h"

namespace {

// Names the file across a re-execution, so that the new image removes it at every end,
// one that comes before it writes the file again included.
constexpr const char kPidFileVariable[] = "LAUNCHER_PIDFILE";

// The file this process wrote; empty when none. Read at the end of the process.
std::string writtenPath;
std::atomic<bool> removed{false};

std::optional<pid_t> readPid(const std::string& path) {
  std::ifstream in(path);
  long value = 0;
  if (!(in >> value) || value <= 0 || value > INT32_MAX) return std::nullopt;
  return static_cast<pid_t>(value);
}

bool isAlive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

std::string commandName(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

bool writeFile(const std::string& path) {
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  std::string text = std::to_string(::getpid()) + "\n";
  bool written =
      ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fchmod(fd, 0644) == 0;
  written = (::close(fd) == 0) && written;
  int error = errno;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  if (written) error = errno;
  ::unlink(temporary.c_str());
  errno = error;
  return false;
}

}  // namespace

bool hmdIsSameLauncher(pid_t pid) {
  struct stat own {};
  struct stat other {};
  std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  if (::stat("/proc/self/exe", &own) == 0 && ::stat(exe.c_str(), &other) == 0) {
    return own.st_dev == other.st_dev && own.st_ino == other.st_ino;
  }
  std::string name = commandName(pid);
  return !name.empty() && name == commandName(::getpid());
}

bool hmdWritePidFile(const std::string& path) {
  // A stop signal meanwhile would leave the temporary file, or a file not yet registered.
  StopSignalsHeld held;
  if (std::optional<pid_t> holder = readPid(path)) {
    if (*holder != ::getpid() && isAlive(*holder) && hmdIsSameLauncher(*holder)) {
      std::fprintf(stderr, "Error: The pid file '%s' names process %d, which runs this launcher already.\n",
                   path.c_str(), static_cast<int>(*holder));
      return false;
    }
    if (*holder != ::getpid()) {
      ut_tproda("Replacing the pid file '%.*s' left by process %d", ut_textLimit(), path.c_str(),
                static_cast<int>(*holder));
    }
  }
  if (!writeFile(path)) {
    std::fprintf(stderr, "Error: Unable to write the pid file '%s': %s.\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  ut_tproda("Wrote pid file '%.*s'", ut_textLimit(), path.c_str());
  writtenPath = path;
  removed = false;
  // Also removed when a stop signal ends the process before any handler of ours runs.
  hmdKeepAtEnd(path);
  hmdRemoveAtEnd(path);
  return true;
}

void hmdKeepPidFileAcrossReexec() {
  if (writtenPath.empty()) return;
  hmdKeepAtEnd(writtenPath);
  ::setenv(kPidFileVariable, writtenPath.c_str(), 1);
}

void hmdTakePidFileFromReexec() {
  const char* given = std::getenv(kPidFileVariable);
  if (given != nullptr && *given != '\0') {
    writtenPath = given;
    removed = false;
    hmdRemoveAtEnd(writtenPath);
  }
  ::unsetenv(kPidFileVariable);
}

void hmdRemovePidFile() {
  if (writtenPath.empty() || removed.exchange(true)) return;
  // Not unconditionally at the end: only while it still names this process.
  hmdKeepAtEnd(writtenPath);
  // Another instance may have taken the name over since; its file stays.
  if (readPid(writtenPath) == ::getpid()) ::unlink(writtenPath.c_str());
}
