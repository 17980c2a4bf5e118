// Start-up caches kept by the launcher.
//
// Files in the cache directory, for an application whose launcher is named NAME:
//   NAME-OWNER-STATE.EXT            the finished cache (EXT "aot" from release 25, else "jsa")
//   NAME-OWNER-STATE.EXT.record     size, inode, modification time and a header digest of it
//   NAME-OWNER-STATE.EXT.tmp-PID    a cache being made by process PID (the VM of release 25
//                                   also keeps its recorded configuration beside it)
//   NAME-OWNER-STATE.classdir       the class-directory refusal was reported for this state
//   NAME-OWNER.lock                 held while caches are checked, removed or published
// OWNER is a digest of the configuration file's name, STATE a digest of everything the VM
// checks a cache against. Files of the same owner with another state are stale and removed;
// temporary files of processes that no longer run are removed too.
#include "startup_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include "command_line.h"
#include "config_reader.h"
#include "jvm_discovery.h"
#include "jvm_library.h"
#include "launch_settings.h"
#include "launcher_location.h"
#include "path_list.h"
#include "trace.h"

namespace {

// What a run decided: the cache being made, to be published when the VM ends.
std::string cacheDir;
std::string cacheFile;
std::string tempFile;
std::string lockFile;
// Set by whichever of publish and discard runs first; the other then does nothing. The
// VM's end can be reached on two threads at once (main's return and System.exit or a
// signal), so the state is only touched under the lock.
std::atomic<bool> settled{true};
std::mutex stateLock;

// Tells a restarted generation that the refusal line for this state was already given.
// It travels in the environment only across the re-execution, never to the VM.
constexpr const char* kNoticeVariable = "LAUNCHER_STARTUPCACHE_NOTICE";
// The state whose refusal line this process (or the generation before it) gave.
std::string noticedState;
constexpr size_t kHeaderDigestBytes = 4096;

uint64_t fnv1a(std::string_view text, uint64_t hash = 0xcbf29ce484222325ULL) {
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string hex(uint64_t value, int digits) {
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%016" PRIx64, value);
  return std::string(buffer + 16 - digits);
}

void skip(const char* reason) { ut_tproda("Startup cache not used: %s", reason); }

std::optional<std::string> readFile(const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(limit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(limit));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

// Holds an advisory lock on the owner's lock file for its lifetime. Another holder is
// waited for about two seconds at most, so that neither a start nor the end of the
// process hangs on another instance's cache work.
class DirLock {
 public:
  DirLock(const std::string& path, int operation) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    for (int tries = 0; ::flock(fd_, operation | LOCK_NB) != 0; ++tries) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || tries >= kLockTries) {
        busy_ = true;
        ::close(fd_);
        fd_ = -1;
        return;
      }
      ::usleep(kLockPauseMicros);
    }
  }
  ~DirLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirLock(const DirLock&) = delete;
  DirLock& operator=(const DirLock&) = delete;
  bool held() const { return fd_ >= 0; }
  bool busy() const { return busy_; }

 private:
  static constexpr int kLockTries = 200;
  static constexpr useconds_t kLockPauseMicros = 10000;
  int fd_ = -1;
  bool busy_ = false;
};

// The record kept beside a finished cache: what the file was when it was published.
std::optional<std::string> describeCache(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::optional<std::string> header = readFile(path, kHeaderDigestBytes);
  if (!header) return std::nullopt;
  char text[160];
  std::snprintf(text, sizeof text, "%lld %llu %lld.%09ld %s\n", static_cast<long long>(st.st_size),
                static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_mtim.tv_sec),
                st.st_mtim.tv_nsec, hex(fnv1a(*header), 16).c_str());
  return std::string(text);
}

bool writeFileAtomically(const std::string& path, const std::string& content) {
  std::string temp = path + ".tmp-" + std::to_string(::getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool processRuns(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// Removes the owner's caches of other states and the temporary files of ended processes.
void sweep(const std::string& ownerPrefix, const std::string& current) {
  DIR* dir = ::opendir(cacheDir.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (!name.starts_with(ownerPrefix) || name.ends_with(".lock")) continue;
    bool stale = !name.starts_with(current);
    size_t tmp = name.find(".tmp-");
    if (!stale && tmp != std::string::npos) {
      pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + tmp + 5));
      stale = !processRuns(pid);
    }
    if (!stale) continue;
    std::string path = cacheDir + "/" + name;
    if (::unlink(path.c_str()) == 0) ut_tproda("Startup cache: removed stale file %.*s", ut_textLimit(), path.c_str());
  }
  ::closedir(dir);
}

bool makeDirectories(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeDirectories(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

// One line on standard error for a refusal the operator can act on, once per state: a
// marker in the cache directory (where it can be written) and, for the generations a
// restart starts, what the generation before handed on.
void notice(const std::string& state, const std::string& marker, const std::string& line) {
  if (state == noticedState) return;
  noticedState = state;
  if (!marker.empty()) {
    if (::access(marker.c_str(), F_OK) == 0) return;
    int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
  }
  std::fputs(line.c_str(), stderr);
}

// A non-empty directory on a class path: these VMs do not archive classes from directories.
std::optional<std::string> findClassDirectory(const std::string& paths) {
  size_t start = 0;
  while (start <= paths.size()) {
    size_t end = paths.find(':', start);
    if (end == std::string::npos) end = paths.size();
    std::string element = paths.substr(start, end - start);
    start = end + 1;
    if (element.empty() || !utlIsDir(element)) continue;
    DIR* dir = ::opendir(element.c_str());
    if (dir == nullptr) continue;
    bool empty = true;
    while (dirent* entry = ::readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
        empty = false;
        break;
      }
    }
    ::closedir(dir);
    if (!empty) return element;
  }
  return std::nullopt;
}

// Options by which the operator already chose an archive of their own, or none.
bool choosesArchive(const std::string& option) {
  static constexpr const char* kArchiveOptions[] = {
      "-Xshare",          "-XX:SharedArchiveFile", "-XX:ArchiveClassesAtExit", "-XX:+AutoCreateSharedArchive",
      "-XX:AOTCache",     "-XX:AOTMode",           "-XX:AOTConfiguration",     "-XX:+AOT",
      "-XX:AOTCacheOutput", "-XX:SharedClassListFile",
  };
  for (const char* prefix : kArchiveOptions) {
    if (option.starts_with(prefix)) return true;
  }
  return false;
}

// Whether an option goes into the state: everything the VM is started with except the
// logging and the per-run properties (the launcher's own and the application's), which
// nothing archived depends on; the java.* and jdk.* properties can change how classes are
// found.
bool shapesCache(const std::string& option) {
  // Logging changes nothing the VM archives.
  if (option.starts_with("-Xlog") || option.starts_with("-verbose")) return false;
  if (!option.starts_with("-D")) return option != "exit";
  return option.starts_with("-Djava.") || option.starts_with("-Djdk.");
}

void discardLocked() {
  if (settled.exchange(true)) return;
  ::unlink(tempFile.c_str());
  ::unlink((tempFile + ".config").c_str());
  ut_tproda("Startup cache: dropped the unfinished %.*s", ut_textLimit(), tempFile.c_str());
}

}  // namespace

void jscInit() { jscTerm(); }

void jscTerm() {
  std::lock_guard<std::mutex> guard(stateLock);
  discardLocked();
  cacheDir.clear();
  cacheFile.clear();
  tempFile.clear();
  lockFile.clear();
}

int jscParseRelease(std::string_view releaseText) {
  size_t at = 0;
  while (at < releaseText.size()) {
    size_t end = releaseText.find('\n', at);
    if (end == std::string_view::npos) end = releaseText.size();
    std::string_view line = releaseText.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with("JAVA_VERSION=")) continue;
    std::string_view value = line.substr(13);
    while (!value.empty() && (value.front() == '"' || value.front() == ' ')) value.remove_prefix(1);
    int first = 0;
    size_t i = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9' && first < 10000; ++i) first = first * 10 + (value[i] - '0');
    if (i == 0) return 0;
    if (first != 1) return first;
    // The old scheme: 1.8.0 is release 8.
    if (i >= value.size() || value[i] != '.') return 0;
    int second = 0;
    size_t j = i + 1;
    for (; j < value.size() && value[j] >= '0' && value[j] <= '9' && second < 10000; ++j) second = second * 10 + (value[j] - '0');
    return j > i + 1 ? second : 0;
  }
  return 0;
}

CacheFamily jscChooseFamily(int release) {
  if (release >= 25) return CacheFamily::AotCache;
  if (release >= 19) return CacheFamily::AutoArchive;
  if (release >= 13) return CacheFamily::ArchiveAtExit;
  return CacheFamily::None;
}

std::vector<std::string> jscFamilyOptions(CacheFamily family, bool ready, const std::string& cacheFile,
                                          const std::string& tempFile) {
  switch (family) {
    case CacheFamily::AotCache:
      return {ready ? "-XX:AOTCache=" + cacheFile : "-XX:AOTCacheOutput=" + tempFile};
    case CacheFamily::AutoArchive:
      return {"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + (ready ? cacheFile : tempFile)};
    case CacheFamily::ArchiveAtExit:
      return {ready ? "-XX:SharedArchiveFile=" + cacheFile : "-XX:ArchiveClassesAtExit=" + tempFile};
    case CacheFamily::None:
      break;
  }
  return {};
}

std::vector<std::string> jscPrepare(const VmOptionList& finalOptions) {
  jscTerm();
  std::optional<std::string> dir = cfgGetStartupCacheDir();
  if (!dir) return {};
  // The cache learns the classes of the run that makes it: only the application's own.
  if (optIsOptionOn("+version", true) || optIsOptionOn("+usage", true) || optIsOptionOn("+help", true) ||
      optIsOptionOn("-X", false)) {
    skip("this run does not start the application");
    return {};
  }
  if (jevGetVmInfo().version != kVersionModular) {
    skip("the installation has a legacy layout");
    return {};
  }
  std::string home = jevGetJVMHome();
  std::optional<std::string> release = readFile(home + "/release", 65536);
  int feature = release ? jscParseRelease(*release) : 0;
  CacheFamily family = jscChooseFamily(feature);
  if (feature == 0) {
    skip("the installation's release file names no JAVA_VERSION");
    return {};
  }
  ut_tproda("Startup cache: the installation is release %d", feature);
  if (family == CacheFamily::None) {
    skip("releases before 13 cannot make a cache at exit");
    return {};
  }
  std::string library;
  jmdGetJVMSharedLib(library, home, jevGetVmInfo());
  if (std::optional<std::string> explicitLibrary = jopGetJavaPath()) library = *explicitLibrary;
  size_t slash = library.find_last_of('/');
  if (family != CacheFamily::AotCache &&
      (slash == std::string::npos || !utlFileExists(library.substr(0, slash) + "/classes.jsa"))) {
    ut_tproda("Startup cache not used: the installation has no default class-data archive beside %.*s",
              ut_textLimit(), library.c_str());
    return {};
  }

  // The state: the installation, the class paths and the options that shape what is archived.
  std::string classPath;
  std::string bootClassPath;
  uint64_t state = fnv1a(home);
  state = fnv1a(std::string(1, '\0') + release.value_or(""), state);
  struct stat st;
  if (::stat(library.c_str(), &st) == 0) {
    state = fnv1a(library + ":" + std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
                      std::to_string(st.st_mtim.tv_nsec),
                  state);
  }
  for (const VmOption& option : finalOptions) {
    const std::string& text = option.optionString;
    if (choosesArchive(text)) {
      skip("the VM options already choose a class-data archive");
      return {};
    }
    if (text.starts_with("-Djava.class.path=")) classPath = text.substr(18);
    if (text.starts_with("-Xbootclasspath/a:") || text.starts_with("-Xbootclasspath/p:")) bootClassPath = text.substr(18);
    if (shapesCache(text)) state = fnv1a(std::string(1, '\0') + text, state);
  }
  state = fnv1a(std::string(1, '\0') + "family " + std::to_string(static_cast<int>(family)), state);

  std::string config = cfgGetCurrentConfigFile().value_or("");
  const char* appName = hmdGetApplicationName();
  std::string owner = std::string(appName != nullptr ? appName : "launcher") + "-" + hex(fnv1a(config), 8) + "-";
  std::string stateText = hex(state, 16);
  std::string base = *dir + "/" + owner + stateText;
  std::string extension = family == CacheFamily::AotCache ? ".aot" : ".jsa";

  if (std::optional<std::string> classDir = findClassDirectory(classPath + ":" + bootClassPath)) {
    ut_tproda("Startup cache not used: the class path holds the class directory %.*s", ut_textLimit(),
              classDir->c_str());
    std::string marker = makeDirectories(*dir) ? base + ".classdir" : std::string();
    notice(stateText, marker,
           "Warning: the class path holds the class directory '" + *classDir +
               "', which the VM cannot cache; put its classes in a jar to use the startup cache.\n");
    return {};
  }

  cacheDir = *dir;
  lockFile = *dir + "/" + owner.substr(0, owner.size() - 1) + ".lock";
  bool writable = makeDirectories(*dir);
  int error = errno;
  std::optional<DirLock> lock;
  if (writable) {
    lock.emplace(lockFile, LOCK_EX);
    if (lock->busy()) {
      ut_tproda("Startup cache not used: another instance holds %.*s", ut_textLimit(), lockFile.c_str());
      jscTerm();
      return {};
    }
    writable = lock->held();
    error = errno;
  }
  if (!writable) {
    ut_tproda("Startup cache not used: the directory %.*s cannot be made or written (%s)", ut_textLimit(),
              dir->c_str(), std::strerror(error));
    notice(stateText, std::string(),
           "Warning: the startup cache directory '" + *dir + "' cannot be made or written (" + std::strerror(error) +
               "); starting without a cache.\n");
    jscTerm();
    return {};
  }
  sweep(owner, owner + stateText + extension);

  std::string finished = base + extension;
  std::string recordFile = finished + ".record";
  bool ready = false;
  if (::access(finished.c_str(), F_OK) == 0) {
    std::optional<std::string> recorded = readFile(recordFile, 256);
    std::optional<std::string> found = describeCache(finished);
    ready = recorded && found && *recorded == *found;
    if (!ready) {
      ut_tproda("Startup cache %.*s does not match its record; removing it and starting without a cache",
                ut_textLimit(), finished.c_str());
      ::unlink(finished.c_str());
      ::unlink(recordFile.c_str());
    }
  }
  lock.reset();

  if (optIsOptionOn("+javacmd", true) && !ready) {
    // The script's own java would make a cache that nobody publishes.
    skip("no finished cache yet for the java command");
    jscTerm();
    return {};
  }
  std::lock_guard<std::mutex> guard(stateLock);
  cacheFile = finished;
  if (ready) {
    ut_tproda("Startup cache: using %.*s", ut_textLimit(), finished.c_str());
  } else {
    tempFile = finished + ".tmp-" + std::to_string(::getpid());
    settled = false;
    ut_tproda("Startup cache: making %.*s", ut_textLimit(), finished.c_str());
  }
  return jscFamilyOptions(family, ready, finished, tempFile);
}

void jscPublishCache() {
  std::lock_guard<std::mutex> guard(stateLock);
  if (settled.exchange(true)) return;
  DirLock lock(lockFile, LOCK_EX);
  if (!lock.held()) {
    ut_tproda("Startup cache: %.*s is held by another instance; the cache of this run is dropped", ut_textLimit(),
              lockFile.c_str());
    ::unlink(tempFile.c_str());
    ::unlink((tempFile + ".config").c_str());
    return;
  }
  std::string recordFile = cacheFile + ".record";
  std::optional<std::string> header = readFile(tempFile, 8);
  // Every archive these VMs write begins with a magic number 0xf00babaX (little-endian).
  bool complete = header && header->size() == 8 && static_cast<unsigned char>((*header)[3]) == 0xf0 &&
                  static_cast<unsigned char>((*header)[2]) == 0x0b && static_cast<unsigned char>((*header)[1]) == 0xab;
  if (!complete) {
    ut_tproda("Startup cache: the VM left no finished cache in %.*s", ut_textLimit(), tempFile.c_str());
  } else if (::rename(tempFile.c_str(), cacheFile.c_str()) != 0) {
    ut_tproda("Startup cache: cannot publish %.*s (%s)", ut_textLimit(), cacheFile.c_str(), std::strerror(errno));
  } else {
    std::optional<std::string> description = describeCache(cacheFile);
    if (description && writeFileAtomically(recordFile, *description)) {
      ut_tproda("Startup cache: %.*s is ready", ut_textLimit(), cacheFile.c_str());
    } else {
      ut_tproda("Startup cache: cannot record %.*s; removing it", ut_textLimit(), cacheFile.c_str());
      ::unlink(cacheFile.c_str());
    }
  }
  ::unlink(tempFile.c_str());
  ::unlink((tempFile + ".config").c_str());
}

void jscDiscardCache() {
  std::lock_guard<std::mutex> guard(stateLock);
  discardLocked();
}

void jscTakeEnvironment() {
  const char* given = std::getenv(kNoticeVariable);
  noticedState = given != nullptr ? given : "";
  ::unsetenv(kNoticeVariable);
}

void jscHandToReexec() {
  if (!noticedState.empty()) ::setenv(kNoticeVariable, noticedState.c_str(), 1);
}
