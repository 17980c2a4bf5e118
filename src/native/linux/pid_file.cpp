// The pid file: one line with the process id, written with one write, and an exclusive
// lock (flock) on the file held for the process's whole life: the lock, not the content,
// says whether an instance runs, so of two instances started at once exactly one gets it.
// The locked descriptor crosses the launcher's own re-executions (LAUNCHER_PIDFILE_LOCK
// names it) and is close-on-exec for every other program.
//
//   locked by another process                  -> refused, status 1
//   file absent, unreadable or not a number    -> written
//   names this process (a re-execution)        -> written again
//   names a process that is gone               -> replaced
//   names a live process of another program    -> replaced (its id was reused)
//   names a live process of this launcher      -> refused, status 1
//
// The file is removed while the lock is held; a starter that locked the removed file
// finds another file (or none) under the name and tries again.
#include "pid_file.h"

#include <fcntl.h>
#include <sys/file.h>
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
// The number of the locked descriptor, across a re-execution.
constexpr const char kLockVariable[] = "LAUNCHER_PIDFILE_LOCK";
// How long a refused start waits for the holder to have written its id.
constexpr int kHolderWaitMillis = 5000;
constexpr int kLockTries = 100;

// The file this process wrote; empty when none. Read at the end of the process.
std::string writtenPath;
std::atomic<bool> removed{false};
// The locked descriptor of the file; -1: none.
int lockFd = -1;

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

// Readable by every user: init scripts and monitors of other users read it.
bool writeContent(int fd) {
  const std::string text = std::to_string(::getpid()) + "\n";
  return ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
         ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 && ::fchmod(fd, 0644) == 0;
}

bool sameFile(int fd, const std::string& path) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

// A descriptor of our own never takes 0, 1 or 2.
int highDescriptor(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return high;
}

// The id the holder of the lock wrote, waiting a while for a holder that has just
// created the file.
std::optional<pid_t> holderPid(const std::string& path) {
  for (int waited = 0; waited < kHolderWaitMillis; waited += 10) {
    if (std::optional<pid_t> holder = readPid(path)) return holder;
    ::usleep(10000);
  }
  return std::nullopt;
}

enum class Lock { kTaken, kHeld, kFailed };

// Opens the file and locks it; kHeld when another process holds the lock.
Lock lockFile(const std::string& path, int& fd) {
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    fd = highDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (fd < 0) return Lock::kFailed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      fd = -1;
      errno = error;
      return error == EWOULDBLOCK ? Lock::kHeld : Lock::kFailed;
    }
    // The holder removed the file between our open and our lock: the name is free again.
    if (sameFile(fd, path)) return Lock::kTaken;
    ::close(fd);
    fd = -1;
  }
  errno = EAGAIN;
  return Lock::kFailed;
}

void refuse(const std::string& path, std::optional<pid_t> holder) {
  if (holder) {
    std::fprintf(stderr, "Error: The pid file '%s' names process %d, which runs this launcher already.\n",
                 path.c_str(), static_cast<int>(*holder));
  } else {
    std::fprintf(stderr, "Error: The pid file '%s' is locked by another process.\n", path.c_str());
  }
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
  // A stop signal meanwhile would leave a file not yet registered.
  StopSignalsHeld held;
  int fd = -1;
  if (lockFd >= 0 && path == writtenPath && sameFile(lockFd, path)) {
    // Locked since before a re-execution of this process.
    fd = lockFd;
  } else {
    const Lock lock = lockFile(path, fd);
    if (lock == Lock::kHeld) {
      refuse(path, holderPid(path));
      return false;
    }
    if (lock == Lock::kFailed) {
      std::fprintf(stderr, "Error: Unable to write the pid file '%s': %s.\n", path.c_str(),
                   std::strerror(errno));
      return false;
    }
  }
  if (std::optional<pid_t> holder = readPid(path)) {
    // Locked, yet naming a live instance: one that does not lock the file.
    if (*holder != ::getpid() && isAlive(*holder) && hmdIsSameLauncher(*holder)) {
      if (fd != lockFd) ::close(fd);
      refuse(path, holder);
      return false;
    }
    if (*holder != ::getpid()) {
      ut_tproda("Replacing the pid file '%.*s' left by process %d", ut_textLimit(), path.c_str(),
                static_cast<int>(*holder));
    }
  }
  if (!writeContent(fd)) {
    const int error = errno;
    if (fd != lockFd) ::close(fd);
    std::fprintf(stderr, "Error: Unable to write the pid file '%s': %s.\n", path.c_str(),
                 std::strerror(error));
    return false;
  }
  if (lockFd >= 0 && lockFd != fd) ::close(lockFd);
  lockFd = fd;
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
  hmdReexecVariable(kPidFileVariable, writtenPath);
  if (lockFd >= 0 && ::fcntl(lockFd, F_SETFD, 0) == 0)
    hmdReexecVariable(kLockVariable, std::to_string(lockFd));
}

void hmdTakePidFileFromReexec() {
  const char* given = std::getenv(kPidFileVariable);
  const char* lock = std::getenv(kLockVariable);
  if (given != nullptr && *given != '\0') {
    writtenPath = given;
    removed = false;
    hmdRemoveAtEnd(writtenPath);
    char* end = nullptr;
    const long fd = lock != nullptr ? std::strtol(lock, &end, 10) : -1;
    if (lock != nullptr && end != lock && *end == '\0' && fd > 2 && fd < INT32_MAX &&
        sameFile(static_cast<int>(fd), writtenPath)) {
      lockFd = static_cast<int>(fd);
      ::fcntl(lockFd, F_SETFD, FD_CLOEXEC);
    }
  }
  ::unsetenv(kPidFileVariable);
  ::unsetenv(kLockVariable);
}

void hmdRemovePidFile() {
  if (writtenPath.empty() || removed.exchange(true)) return;
  // Not unconditionally at the end: only while it still names this process.
  hmdKeepAtEnd(writtenPath);
  // Another instance may have taken the name over since; its file stays.
  if (readPid(writtenPath) == ::getpid()) ::unlink(writtenPath.c_str());
}
