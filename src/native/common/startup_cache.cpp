// Start-up caches kept by the launcher.
//
// Files in the cache directory, for an application whose launcher is named NAME:
//   NAME-OWNER-INST-STATE.EXT          the finished cache (EXT "aot" from release 25, else "jsa")
//   NAME-OWNER-INST-STATE.EXT.record   size, inode, modification time and a header digest of
//                                      it, then a digest of its whole content, then the
//                                      size, inode and modification time of each file the
//                                      class path's jar manifests name (Class-Path), and
//                                      the classes the launcher looked for and did not find
//   NAME-OWNER-INST-STATE.EXT.tmp-PID  a cache being made by process PID (the VM of release
//                                      25 also keeps its recorded configuration beside it)
//   NAME-OWNER-INST-STATE.EXT.inuse-PID  process PID runs on the cache; cleared at its orderly end
//   NAME-OWNER-INST-STATE.classdir     the class-directory refusal was reported for this state
//   NAME-OWNER-INST-STATE.noroom       the lack of room for a cache was reported for this state
//   NAME-OWNER.lock                    held while caches are checked, removed or published
// OWNER is a digest of the configuration file's name, INST one of the installation, STATE a
// digest of everything the VM checks a cache against: the options and what every class
// path, boot class path and agent jar holds (its size, inode and modification time). Files
// of the same owner and installation with another state are stale and removed; the caches
// of other installations stay, the newest few of them; temporary files and in-use marks of
// processes that no longer run are removed too (a mark first makes the cache's content be
// checked against its digest: that process may have died of a damaged cache). The files
// that the jars' manifests name are not in STATE (reading every manifest at every start
// costs too much): the run that makes a cache lists them in its record, and a cache whose
// listed files changed is removed like one that does not match its record.
#include "startup_cache.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include "app_arguments.h"
#include "command_line.h"
#include "config_reader.h"
#include "jar_manifest.h"
#include "jvm_discovery.h"
#include "jvm_library.h"
#include "launch_settings.h"
#include "launcher_location.h"
#include "path_list.h"
#include "process_end.h"
#include "service_notify.h"
#include "trace.h"

namespace {

// What a run decided: the cache being made, to be published when the VM ends.
std::string cacheDir;
std::string cacheFile;
std::string tempFile;
std::string lockFile;
// The mark of this process's use of a finished cache, removed at every orderly end.
std::string inUseMark;
// Whether this run gave the VM cache options, and the finished cache it was given.
bool optionsGiven = false;
std::string usedFile;
// The record lines of the files the class path's manifests name, taken as the run that
// makes the cache starts.
std::string manifestFiles;
// The classes the run that makes the cache did not find (for its record), and those the
// record of the cache this run uses lists.
std::vector<std::string> absentNoted;
std::vector<std::string> absentRecorded;
// From release 25: the installation's java and the options of the step that assembles the
// cache from the configuration the run recorded, and whether its output is kept.
std::string assembler;
std::vector<std::string> assemblyOptions;
bool assemblyTalks = false;
// What the VM prints as it ends a run that records a configuration (release 25): set
// before the VM exists and cleared after it, so the print hook reads it without the lock.
std::string recordingRemark;
// A training run (+makecache): why no cache can be made, whether one was published, and
// the readiness watch that stops the application once it is ready.
bool training = false;
std::string refusal;
std::atomic<bool> published{false};
// The VM's end has reached the cache (publication or discard): no stop is sent any more.
std::atomic<bool> reachedEnd{false};
std::mutex trainingLock;
std::condition_variable trainingChanged;
bool mainReturned = false;
constexpr int kTrainingMainSeconds = 5;
// VM creation failed with cache options: the next image starts without them.
bool retryWithout = false;
// This image is that next image.
bool startWithout = false;
constexpr const char* kWithoutVariable = "LAUNCHER_STARTUPCACHE_OFF";
// The installations whose caches a directory keeps for one configuration.
constexpr size_t kKeptInstallations = 3;
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
// A record this long or longer is not one this launcher wrote.
constexpr size_t kRecordLimit = 4 << 20;

uint64_t fnv1a(std::string_view text, uint64_t hash = 0xcbf29ce484222325ULL) {
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// A digest of a whole file, read in large blocks; empty when it cannot be read.
std::string contentDigest(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  std::vector<char> buffer(1 << 20);
  uint64_t hash = 0xcbf29ce484222325ULL;
  uint64_t total = 0;
  for (;;) {
    ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::string();
    }
    if (got == 0) break;
    size_t n = static_cast<size_t>(got);
    size_t words = n / 8;
    for (size_t i = 0; i < words; ++i) {
      uint64_t word;
      std::memcpy(&word, buffer.data() + i * 8, 8);
      hash = (hash ^ word) * 0x100000001b3ULL;
      hash ^= hash >> 29;
    }
    hash = fnv1a(std::string_view(buffer.data() + words * 8, n - words * 8), hash);
    total += n;
  }
  ::close(fd);
  char text[48];
  std::snprintf(text, sizeof text, "%016" PRIx64 "-%" PRIu64, hash, total);
  return text;
}

std::string hex(uint64_t value, int digits) {
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%016" PRIx64, value);
  return std::string(buffer + 16 - digits);
}

// Traces why this run makes and uses no cache; a training run reports it at its end.
void notUsed(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  refusal = text;
  ut_tproda("Startup cache not used: %.*s", ut_textLimit(), text);
}

void skip(const char* reason) { notUsed("%s", reason); }

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

// A cache's record, none when it cannot be read whole. Read at its own size: a start pays
// for no more than the record holds.
std::optional<std::string> readRecord(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) >= kRecordLimit) {
    return std::nullopt;
  }
  std::optional<std::string> text = readFile(path, static_cast<size_t>(st.st_size) + 1);
  if (text && text->size() > static_cast<size_t>(st.st_size)) return std::nullopt;  // grew while read
  return text;
}

// The record line of a file's identity, none when it is no regular file. A path's '%' and
// line ends are escaped, so that each line holds one whole path.
std::optional<std::string> describeFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  char text[96];
  std::snprintf(text, sizeof text, "file %lld %llu %lld.%09ld ", static_cast<long long>(st.st_size),
                static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_mtim.tv_sec),
                st.st_mtim.tv_nsec);
  std::string line = text;
  for (char c : path) {
    if (c == '%') {
      line += "%25";
    } else if (c == '\n') {
      line += "%0A";
    } else {
      line += c;
    }
  }
  return line + "\n";
}

std::string unescapePath(std::string_view text) {
  std::string path;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 3) == "%25") {
      path += '%';
      i += 2;
    } else if (text.substr(i, 3) == "%0A") {
      path += '\n';
      i += 2;
    } else {
      path += text[i];
    }
  }
  return path;
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

// What a sweep found: the in-use marks on the current cache of processes that are gone, and
// the size of the largest cache the owner keeps.
struct SweepResult {
  std::vector<std::string> deadMarks;
  uint64_t largestCache = 0;
};

// The process id a temporary file or an in-use mark names, or 0.
pid_t ownerProcess(const std::string& name) {
  for (const char* tag : {".tmp-", ".inuse-"}) {
    size_t at = name.rfind(tag);
    if (at != std::string::npos) return static_cast<pid_t>(std::atol(name.c_str() + at + std::strlen(tag)));
  }
  return 0;
}

// Removes the owner's files of other states of this installation, all files of the oldest
// other installations beyond the kept few, and the temporary files and in-use marks of
// ended processes (those on the current cache are reported, not removed).
SweepResult sweep(const std::string& ownerPrefix, const std::string& installPrefix, const std::string& current) {
  SweepResult result;
  DIR* dir = ::opendir(cacheDir.c_str());
  if (dir == nullptr) return result;
  struct Installation {
    int64_t newest = 0;
    std::vector<std::string> files;
  };
  std::map<std::string, Installation> others;
  std::vector<std::string> stale;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (!name.starts_with(ownerPrefix) || name.ends_with(".lock")) continue;
    std::string path = cacheDir + "/" + name;
    struct stat st;
    bool finished = name.ends_with(".jsa") || name.ends_with(".aot");
    if (finished && ::stat(path.c_str(), &st) == 0) {
      result.largestCache = std::max(result.largestCache, static_cast<uint64_t>(st.st_size));
    }
    pid_t pid = ownerProcess(name);
    if (pid != 0 && !processRuns(pid)) {
      if (name.starts_with(current + ".inuse-")) {
        result.deadMarks.push_back(path);
      } else {
        stale.push_back(path);
      }
      continue;
    }
    if (name.starts_with(installPrefix)) {
      // The state's own files: the cache and its record, marks and notes.
      if (!name.starts_with(current.substr(0, current.rfind('.')))) stale.push_back(path);
      continue;
    }
    // Another installation's file: kept while that installation is among the newest few.
    Installation& other = others[name.substr(ownerPrefix.size(), name.find('-', ownerPrefix.size()) - ownerPrefix.size())];
    other.files.push_back(path);
    if (finished && ::stat(path.c_str(), &st) == 0) other.newest = std::max<int64_t>(other.newest, st.st_mtim.tv_sec);
  }
  ::closedir(dir);
  if (others.size() >= kKeptInstallations) {
    std::vector<std::pair<int64_t, const Installation*>> byAge;
    for (const auto& [key, other] : others) byAge.emplace_back(other.newest, &other);
    std::sort(byAge.begin(), byAge.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    for (size_t i = 0; i + kKeptInstallations - 1 < byAge.size(); ++i) {
      stale.insert(stale.end(), byAge[i].second->files.begin(), byAge[i].second->files.end());
    }
  }
  for (const std::string& path : stale) {
    if (::unlink(path.c_str()) == 0) ut_tproda("Startup cache: removed stale file %.*s", ut_textLimit(), path.c_str());
  }
  return result;
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

// A non-empty directory among those found on the class paths: these VMs do not archive
// classes from directories.
std::optional<std::string> findClassDirectory(const std::vector<std::string>& directories) {
  for (const std::string& element : directories) {
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

// Runs the installation's java to assemble the cache from the recorded configuration, with
// the run's own options, each one argument; its output goes nowhere unless the
// configuration asks for logging. True when it ended with 0.
bool assembleCache() {
  std::vector<std::string> args = {assembler, "-XX:AOTMode=create", "-XX:AOTConfiguration=" + tempFile + ".config",
                                   "-XX:AOTCache=" + tempFile};
  args.insert(args.end(), assemblyOptions.begin(), assemblyOptions.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (!assemblyTalks) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  // Nothing else of the launcher's: an assembly that outlives a killed launcher must not keep
  // its pipes, sockets or locks open.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  ut_tproda("Startup cache: assembling %.*s", ut_textLimit(), tempFile.c_str());
  pid_t child = 0;
  int error = ::posix_spawn(&child, assembler.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    ut_tproda("Startup cache: cannot run %.*s (%s)", ut_textLimit(), assembler.c_str(), std::strerror(error));
    return false;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return true;  // reaped elsewhere: the file's header decides
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ut_tproda("Startup cache: the assembly of %.*s ended with status 0x%x", ut_textLimit(), tempFile.c_str(), status);
    return false;
  }
  return true;
}

// Options without which these releases cannot map their default class-data archive, and so
// refuse to start when asked to make a cache at exit.
bool refusesDynamicArchive(const std::vector<std::string>& options) {
  bool refuses = false;
  for (const std::string& option : options) {
    if (option == "-XX:-UseCompressedOops" || option == "-XX:-UseCompressedClassPointers") refuses = true;
    if (option == "-XX:+UseCompressedOops" || option == "-XX:+UseCompressedClassPointers") refuses = false;
  }
  return refuses;
}

void clearInUseMark() {
  if (inUseMark.empty()) return;
  ::unlink(inUseMark.c_str());
  inUseMark.clear();
}

void discardLocked() {
  clearInUseMark();
  if (settled.exchange(true)) return;
  ::unlink(tempFile.c_str());
  ::unlink((tempFile + ".config").c_str());
  ut_tproda("Startup cache: dropped the unfinished %.*s", ut_textLimit(), tempFile.c_str());
}

}  // namespace

void jscInit() {
  jscTerm();
  // What a training run reports at its end outlives jscTerm; a new run starts afresh.
  training = false;
  published = false;
  refusal.clear();
}

void jscTerm() {
  std::lock_guard<std::mutex> guard(stateLock);
  discardLocked();
  optionsGiven = false;
  usedFile.clear();
  manifestFiles.clear();
  absentNoted.clear();
  absentRecorded.clear();
  assembler.clear();
  assemblyOptions.clear();
  recordingRemark.clear();
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
      if (ready) return {"-XX:AOTCache=" + cacheFile};
      return {"-XX:AOTMode=record", "-XX:AOTConfiguration=" + tempFile + ".config"};
    case CacheFamily::AutoArchive:
      return {"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + (ready ? cacheFile : tempFile)};
    case CacheFamily::ArchiveAtExit:
      return {ready ? "-XX:SharedArchiveFile=" + cacheFile : "-XX:ArchiveClassesAtExit=" + tempFile};
    case CacheFamily::None:
      break;
  }
  return {};
}

std::vector<std::string> jscSplitOptionsVariable(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : text) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      if (inWord) words.push_back(std::exchange(word, std::string()));
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::vector<std::string> jscContentEntries(const std::vector<std::string>& options) {
  std::vector<std::string> entries;
  auto addList = [&](std::string_view list) {
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(':', start);
      if (end == std::string_view::npos) end = list.size();
      if (end > start) entries.emplace_back(list.substr(start, end - start));
      start = end + 1;
    }
  };
  for (const std::string& option : options) {
    std::string_view text = option;
    if (text.starts_with("-Djava.class.path=")) {
      addList(text.substr(18));
    } else if (text.starts_with("-Xbootclasspath/a:") || text.starts_with("-Xbootclasspath/p:")) {
      addList(text.substr(18));
    } else if (text.starts_with("-Xbootclasspath:")) {
      addList(text.substr(16));
    } else if (text.starts_with("-javaagent:")) {
      std::string_view jar = text.substr(11);
      entries.emplace_back(jar.substr(0, jar.find('=')));
    } else if (text.starts_with("-agentpath:")) {
      std::string_view library = text.substr(11);
      entries.emplace_back(library.substr(0, library.find('=')));
    }
  }
  return entries;
}

ContentIdentity jscContentIdentity(const std::vector<std::string>& entries, uint64_t digest) {
  ContentIdentity identity{.digest = digest, .fileBytes = 0, .directories = {}};
  struct stat st;
  for (const std::string& entry : entries) {
    std::string text = std::string(1, '\0') + entry;
    if (::stat(entry.c_str(), &st) == 0) {
      text += ":" + std::to_string(st.st_size) + ":" + std::to_string(st.st_ino) + ":" +
              std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
      if (S_ISREG(st.st_mode)) identity.fileBytes += static_cast<uint64_t>(st.st_size);
      if (S_ISDIR(st.st_mode)) identity.directories.push_back(entry);
    }
    identity.digest = fnv1a(text, identity.digest);
  }
  return identity;
}

std::vector<std::string> jscManifestClosure(const std::vector<std::string>& entries) {
  std::set<std::pair<dev_t, ino_t>> seen;
  std::vector<std::string> jars;
  struct stat st;
  for (const std::string& entry : entries) {
    if (::stat(entry.c_str(), &st) != 0) continue;
    seen.emplace(st.st_dev, st.st_ino);
    if (S_ISREG(st.st_mode)) jars.push_back(entry);
  }
  std::vector<std::string> named;
  // Each jar is read once: those of the entries, then the files named, in the order found.
  for (size_t at = 0; at < jars.size(); ++at) {
    std::optional<std::string> manifest = zipReadJarManifest(jars[at]);
    if (!manifest) continue;
    std::optional<std::string> classPath = zipManifestAttribute(*manifest, "Class-Path");
    if (!classPath) continue;
    for (std::string& file : zipManifestClassPath(*classPath, jars[at])) {
      if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
          !seen.emplace(st.st_dev, st.st_ino).second) {
        continue;
      }
      named.push_back(file);
      jars.push_back(std::move(file));
    }
  }
  return named;
}

std::string jscDescribeFiles(const std::vector<std::string>& files) {
  std::string lines;
  for (const std::string& file : files) lines += describeFile(file).value_or("");
  return lines;
}

std::optional<std::string> jscChangedFile(std::string_view record) {
  size_t at = 0;
  while (at < record.size()) {
    size_t end = record.find('\n', at);
    if (end == std::string_view::npos) end = record.size();
    std::string_view line = record.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with("file ")) continue;
    // file SIZE INODE MTIME PATH: the path follows the fourth space.
    size_t pathAt = 0;
    for (int spaces = 0; spaces < 4 && pathAt != std::string_view::npos; ++spaces) {
      pathAt = line.find(' ', pathAt + 1);
    }
    if (pathAt == std::string_view::npos) return std::string(line);
    std::string path = unescapePath(line.substr(pathAt + 1));
    std::optional<std::string> now = describeFile(path);
    if (!now || std::string_view(*now).substr(0, now->size() - 1) != line) return path;
  }
  return std::nullopt;
}

AgentKind jscAgentKind(std::string_view option) {
  if (option.starts_with("-agentlib:jdwp") || option.starts_with("-Xrunjdwp") ||
      (option.starts_with("-agentpath:") && option.find("jdwp") != std::string_view::npos)) {
    return AgentKind::Debugger;
  }
  if (option.starts_with("-javaagent:") || option.starts_with("-agentlib:") || option.starts_with("-agentpath:") ||
      option.starts_with("-Xrun")) {
    return AgentKind::Other;
  }
  return AgentKind::None;
}

std::vector<std::string> jscPrepare(const VmOptionList& finalOptions) {
  jscTerm();
  training = optIsOptionOn("+makecache", true);
  refusal = "the configuration has no startupcache directive";
  published = false;
  reachedEnd = false;
  {
    std::lock_guard<std::mutex> guard(trainingLock);
    mainReturned = false;
  }
  std::optional<std::string> dir = cfgGetStartupCacheDir();
  if (!dir) return {};
  if (startWithout) {
    skip("the VM could not be created with the cache options before this start");
    return {};
  }
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
  // The options the VM reads besides the list: they count as configured ones.
  std::vector<std::string> options;
  for (const char* variable : {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"}) {
    if (const char* value = std::getenv(variable)) {
      for (std::string& word : jscSplitOptionsVariable(value)) options.push_back(std::move(word));
    }
  }
  for (const VmOption& option : finalOptions) options.push_back(option.optionString);
  bool agent = false;
  bool ownLogging = false;
  for (const std::string& text : options) {
    AgentKind kind = jscAgentKind(text);
    if (kind == AgentKind::Debugger) {
      skip("a debugging run neither makes nor uses a cache");
      return {};
    }
    agent = agent || kind == AgentKind::Other;
    ownLogging = ownLogging || text.starts_with("-Xlog");
  }
  if (optIsJPDAEnabled()) {
    skip("a debugging run neither makes nor uses a cache");
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
    notUsed("the installation has no default class-data archive beside %.*s",
              ut_textLimit(), library.c_str());
    return {};
  }

  // The installation: its path, its release file and the VM library.
  uint64_t installation = fnv1a(home);
  installation = fnv1a(std::string(1, '\0') + release.value_or(""), installation);
  struct stat st;
  if (::stat(library.c_str(), &st) == 0) {
    installation = fnv1a(library + ":" + std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
                             std::to_string(st.st_mtim.tv_nsec),
                         installation);
  }
  // The state: the options that shape what is archived and what every jar holds.
  uint64_t state = fnv1a("family " + std::to_string(static_cast<int>(family)));
  for (const std::string& text : options) {
    if (choosesArchive(text)) {
      skip("the VM options already choose a class-data archive");
      return {};
    }
    if (shapesCache(text)) state = fnv1a(std::string(1, '\0') + text, state);
  }
  const std::vector<std::string> contentEntries = jscContentEntries(options);
  ContentIdentity content = jscContentIdentity(contentEntries, state);
  state = content.digest;
  const uint64_t classPathBytes = content.fileBytes;
  const std::vector<std::string>& directories = content.directories;

  std::string config = cfgGetCurrentConfigFile().value_or("");
  const char* appName = hmdGetApplicationName();
  std::string owner = std::string(appName != nullptr ? appName : "launcher") + "-" + hex(fnv1a(config), 8) + "-";
  std::string installPrefix = owner + hex(installation, 8) + "-";
  std::string stateText = hex(installation, 8) + "-" + hex(state, 16);
  std::string base = *dir + "/" + installPrefix + hex(state, 16);
  std::string extension = family == CacheFamily::AotCache ? ".aot" : ".jsa";

  if (std::optional<std::string> classDir = findClassDirectory(directories)) {
    notUsed("the class path holds the class directory %.*s", ut_textLimit(),
              classDir->c_str());
    std::string marker = makeDirectories(*dir) ? base + ".classdir" : std::string();
    notice(stateText, marker,
           "Warning: the class path holds the class directory '" + *classDir +
               "', which the VM cannot cache; put its classes in a jar to use the startup cache.\n");
    return {};
  }

  cacheDir = *dir;
  lockFile = *dir + "/" + owner.substr(0, owner.size() - 1) + ".lock";
  std::string finished = base + extension;
  std::string recordFile = finished + ".record";
  bool writable = makeDirectories(*dir) && ::access(dir->c_str(), W_OK) == 0;
  int error = errno;
  std::optional<DirLock> lock;
  if (writable) {
    lock.emplace(lockFile, LOCK_EX);
    if (lock->busy()) {
      notUsed("another instance holds %.*s", ut_textLimit(), lockFile.c_str());
      jscTerm();
      return {};
    }
    writable = lock->held();
    error = errno;
  }
  if (!writable) {
    // A directory made read-only after a cache was made in it (an image or a package build):
    // its finished cache is used as it is, without a word.
    std::optional<std::string> recorded = readRecord(recordFile);
    std::optional<std::string> found = describeCache(finished);
    std::optional<std::string> changed = recorded ? jscChangedFile(*recorded) : std::nullopt;
    if (changed) {
      ut_tproda("Startup cache %.*s was made with %.*s, which has changed since", ut_textLimit(),
                finished.c_str(), ut_textLimit(), changed->c_str());
    }
    if (recorded && found && recorded->starts_with(*found) && !changed) {
      std::lock_guard<std::mutex> guard(stateLock);
      cacheFile = finished;
      usedFile = finished;
      absentRecorded = jscAbsentClasses(*recorded);
      optionsGiven = true;
      ut_tproda("Startup cache: using %.*s (its directory cannot be written)", ut_textLimit(), finished.c_str());
      published = true;
      return jscFamilyOptions(family, true, finished, tempFile);
    }
    notUsed("the directory %.*s cannot be made or written (%s)", ut_textLimit(),
              dir->c_str(), std::strerror(error));
    notice(stateText, std::string(),
           "Warning: the startup cache directory '" + *dir + "' cannot be made or written (" + std::strerror(error) +
               "); starting without a cache.\n");
    jscTerm();
    return {};
  }
  SweepResult swept = sweep(owner, installPrefix, owner + hex(installation, 8) + "-" + hex(state, 16) + extension);

  bool ready = false;
  std::vector<std::string> recordedAbsent;
  if (::access(finished.c_str(), F_OK) == 0) {
    std::optional<std::string> recorded = readRecord(recordFile);
    std::optional<std::string> found = describeCache(finished);
    ready = recorded && found && recorded->starts_with(*found);
    std::optional<std::string> changed = ready ? jscChangedFile(*recorded) : std::nullopt;
    if (!ready) {
      ut_tproda("Startup cache %.*s does not match its record; removing it and starting without a cache",
                ut_textLimit(), finished.c_str());
    } else if (changed) {
      // A jar named by a manifest was rebuilt: the cache holds classes of its old bytes.
      ready = false;
      ut_tproda(
          "Startup cache %.*s was made with %.*s, which has changed since; removing it and starting without "
          "a cache",
          ut_textLimit(), finished.c_str(), ut_textLimit(), changed->c_str());
    } else if (!swept.deadMarks.empty()) {
      // A process that ran on this cache ended without clearing its mark, perhaps because
      // the cache is damaged: the whole file must still be what was published.
      size_t at = recorded->find("content ");
      std::string content = contentDigest(finished);
      ready = at != std::string::npos && !content.empty() && recorded->compare(at + 8, content.size() + 1, content + "\n") == 0;
      if (!ready) {
        ut_tproda("Startup cache %.*s does not match the digest of its content after a run on it ended abnormally; "
                  "removing it and starting without a cache",
                  ut_textLimit(), finished.c_str());
      } else {
        ut_tproda("Startup cache: %.*s still matches its content digest after a run on it ended abnormally",
                  ut_textLimit(), finished.c_str());
      }
    }
    if (!ready) {
      ::unlink(finished.c_str());
      ::unlink(recordFile.c_str());
    } else {
      recordedAbsent = jscAbsentClasses(*recorded);
    }
  }
  for (const std::string& mark : swept.deadMarks) ::unlink(mark.c_str());

  if (optIsOptionOn("+javacmd", true) && !ready) {
    // The script's own java would make a cache that nobody publishes.
    skip("no finished cache yet for the java command");
    jscTerm();
    return {};
  }
  if (!ready && agent && family == CacheFamily::ArchiveAtExit) {
    notUsed("release %d cannot make a cache while an agent is loaded", feature);
    jscTerm();
    return {};
  }
  if (!ready && family == CacheFamily::ArchiveAtExit && refusesDynamicArchive(options)) {
    // The VM would end the process at its creation: the default archive cannot be mapped.
    notUsed("release %d cannot make a cache without compressed pointers", feature);
    jscTerm();
    return {};
  }
  if (!ready) {
    // Room for the cache: twice the class path and the largest cache made before, or a floor.
    uint64_t floor = family == CacheFamily::AotCache ? (48ULL << 20) : (8ULL << 20);
    uint64_t needed = 2 * classPathBytes + std::max(floor, swept.largestCache);
    struct statvfs fs;
    if (::statvfs(dir->c_str(), &fs) == 0) {
      uint64_t available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
      if (available < needed) {
        notUsed("%.*s has %llu MiB free, a cache needs about %llu MiB", ut_textLimit(),
                  dir->c_str(), static_cast<unsigned long long>(available >> 20),
                  static_cast<unsigned long long>((needed + (1 << 20) - 1) >> 20));
        notice(stateText, base + ".noroom",
               "Warning: the startup cache directory '" + *dir + "' has too little free space for a cache (" +
                   std::to_string(available >> 20) + " MiB free, about " +
                   std::to_string((needed + (1 << 20) - 1) >> 20) + " MiB needed); starting without a cache.\n");
        jscTerm();
        return {};
      }
    }
  }
  lock.reset();
  std::lock_guard<std::mutex> guard(stateLock);
  cacheFile = finished;
  optionsGiven = true;
  std::vector<std::string> given;
  if (ready) {
    usedFile = finished;
    absentRecorded = std::move(recordedAbsent);
    // The java command's script runs without the launcher: no mark for it.
    if (!optIsOptionOn("+javacmd", true)) {
      inUseMark = finished + ".inuse-" + std::to_string(::getpid());
      int fd = ::open(inUseMark.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd >= 0) {
        ::close(fd);
      } else {
        inUseMark.clear();
      }
    }
    ut_tproda("Startup cache: using %.*s", ut_textLimit(), finished.c_str());
    published = true;
  } else {
    tempFile = finished + ".tmp-" + std::to_string(::getpid());
    settled = false;
    ::unlink((base + ".noroom").c_str());
    ut_tproda("Startup cache: making %.*s", ut_textLimit(), finished.c_str());
    std::vector<std::string> jars;
    std::error_code cwdError;
    std::string cwd = std::filesystem::current_path(cwdError).string();
    for (const std::string& entry : contentEntries) {
      jars.push_back(entry.starts_with('/') || cwd.empty() ? entry : cwd + "/" + entry);
    }
    std::vector<std::string> named = jscManifestClosure(jars);
    manifestFiles = jscDescribeFiles(named);
    if (!named.empty()) {
      ut_tproda("Startup cache: the record lists %zu files named by the class path's manifests",
                named.size());
    }
    // The VM's remarks on classes it leaves out go to the log the configuration asks for, else nowhere.
    if (!ownLogging) given.push_back(family == CacheFamily::AotCache ? "-Xlog:cds*=off,aot*=off" : "-Xlog:cds*=off");
    if (family == CacheFamily::AotCache) {
      assembler = home + "/bin/java";
      assemblyTalks = ownLogging;
      recordingRemark = "AOTConfiguration recorded: " + tempFile + ".config";
      // The options the VM itself received from the list; those of JAVA_TOOL_OPTIONS and
      // _JAVA_OPTIONS reach the assembling VM through the environment it inherits.
      for (const VmOption& option : finalOptions) {
        if (shapesCache(option.optionString) || option.optionString.starts_with("-Xlog")) {
          assemblyOptions.push_back(option.optionString);
        }
      }
      if (!ownLogging) assemblyOptions.push_back("-Xlog:cds*=off,aot*=off");
    }
  }
  for (std::string& option : jscFamilyOptions(family, ready, finished, tempFile)) given.push_back(std::move(option));
  return given;
}

void jscPublishCache() {
  reachedEnd = true;
  std::lock_guard<std::mutex> guard(stateLock);
  clearInUseMark();
  if (settled.exchange(true)) return;
  if (!assembler.empty()) {
    if (::access((tempFile + ".config").c_str(), F_OK) == 0) {
      assembleCache();
    } else {
      ut_tproda("Startup cache: the VM recorded no configuration in %.*s.config", ut_textLimit(), tempFile.c_str());
    }
  }
  DirLock lock(lockFile, LOCK_EX);
  if (!lock.held()) {
    ut_tproda("Startup cache: %.*s is held by another instance; the cache of this run is dropped", ut_textLimit(),
              lockFile.c_str());
    refusal = "another instance held the cache directory's lock";
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
    refusal = "the VM left no finished cache";
  } else if (::rename(tempFile.c_str(), cacheFile.c_str()) != 0) {
    ut_tproda("Startup cache: cannot publish %.*s (%s)", ut_textLimit(), cacheFile.c_str(), std::strerror(errno));
  } else {
    std::optional<std::string> description = describeCache(cacheFile);
    std::string content = contentDigest(cacheFile);
    if (description && !content.empty() &&
        writeFileAtomically(recordFile, *description + "content " + content + "\n" + manifestFiles +
                                              jscDescribeAbsentClasses(absentNoted))) {
      ut_tproda("Startup cache: %.*s is ready", ut_textLimit(), cacheFile.c_str());
      published = true;
    } else {
      ut_tproda("Startup cache: cannot record %.*s; removing it", ut_textLimit(), cacheFile.c_str());
      ::unlink(cacheFile.c_str());
    }
  }
  ::unlink(tempFile.c_str());
  ::unlink((tempFile + ".config").c_str());
}

void jscDiscardCache() {
  reachedEnd = true;
  std::lock_guard<std::mutex> guard(stateLock);
  discardLocked();
}

void jscTakeEnvironment() {
  const char* given = std::getenv(kNoticeVariable);
  noticedState = given != nullptr ? given : "";
  ::unsetenv(kNoticeVariable);
  startWithout = std::getenv(kWithoutVariable) != nullptr;
  ::unsetenv(kWithoutVariable);
  retryWithout = false;
}

void jscHandToReexec() {
  if (!noticedState.empty()) hmdReexecVariable(kNoticeVariable, noticedState);
  if (retryWithout) hmdReexecVariable(kWithoutVariable, "1");
}

bool jscIsRecordingRemark(std::string_view text) {
  if (recordingRemark.empty()) return false;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
  return text == recordingRemark;
}

bool jscClassKnownAbsent(std::string_view className) {
  std::lock_guard<std::mutex> guard(stateLock);
  if (usedFile.empty()) return false;
  return std::find(absentRecorded.begin(), absentRecorded.end(), className) != absentRecorded.end();
}

void jscNoteClassAbsent(std::string_view className) {
  std::lock_guard<std::mutex> guard(stateLock);
  if (settled || std::find(absentNoted.begin(), absentNoted.end(), className) != absentNoted.end()) return;
  absentNoted.emplace_back(className);
}

std::string jscDescribeAbsentClasses(const std::vector<std::string>& classNames) {
  std::string lines;
  for (const std::string& name : classNames) {
    // A name is one word of a line: anything else is not a class name the launcher asks for.
    if (name.empty() || name.find_first_of(" \n") != std::string::npos) continue;
    lines += "absent " + name + "\n";
  }
  return lines;
}

std::vector<std::string> jscAbsentClasses(std::string_view record) {
  std::vector<std::string> names;
  size_t at = 0;
  while (at < record.size()) {
    size_t end = record.find('\n', at);
    // A last line without its end was cut short: it names nothing.
    if (end == std::string_view::npos) break;
    std::string_view line = record.substr(at, end - at);
    at = end + 1;
    if (line.starts_with("absent ") && line.size() > 7) names.emplace_back(line.substr(7));
  }
  return names;
}

bool jscRetryPossible() {
  std::lock_guard<std::mutex> guard(stateLock);
  return optionsGiven && !retryWithout;
}

bool jscRetryWithoutCache() {
  std::lock_guard<std::mutex> guard(stateLock);
  if (!optionsGiven) return false;
  // A finished cache the VM could not start with is not offered again.
  if (!usedFile.empty()) {
    ::unlink(usedFile.c_str());
    ::unlink((usedFile + ".record").c_str());
  }
  clearInUseMark();
  settled = true;
  ::unlink(tempFile.c_str());
  ::unlink((tempFile + ".config").c_str());
  retryWithout = true;
  std::fputs("Warning: the VM could not be created with the startup cache options; starting again without a cache.\n",
             stderr);
  return true;
}

namespace {

// Waits for the readiness rule, then stops the application as a stop signal does. Once
// the VM has ended by itself nothing is sent: its end publishes the cache.
void watchTraining(Readiness readiness) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTrainingMainSeconds);
  std::unique_lock<std::mutex> lock(trainingLock);
  for (;;) {
    if (mainReturned) break;
    if (readiness.mode == ReadinessMode::Main && std::chrono::steady_clock::now() >= deadline) break;
    if (readiness.mode == ReadinessMode::Port || readiness.mode == ReadinessMode::Http) {
      lock.unlock();
      bool ready = hmdReadinessMet(readiness);
      lock.lock();
      if (ready) break;
    }
    trainingChanged.wait_for(lock, std::chrono::milliseconds(100));
  }
  lock.unlock();
  ut_tproda("Startup cache: the training run is ready; stopping it");
  // main may have returned into an end that needs no stop: give it a moment first.
  for (int i = 0; i < 20 && !hmdVmHasEnded(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (!hmdVmHasEnded() && !reachedEnd) ::kill(::getpid(), SIGTERM);
}

}  // namespace

bool jscTraining() { return training; }

void jscMainCalled() {
  if (!training) return;
  std::thread(watchTraining, cfgGetReadiness()).detach();
}

void jscMainReturned() {
  if (!training) return;
  std::lock_guard<std::mutex> guard(trainingLock);
  mainReturned = true;
  trainingChanged.notify_all();
}

int32_t jscTrainingStatus() {
  if (published) return 0;
  std::fprintf(stderr, "Error: no startup cache was made: %s.\n", refusal.empty() ? "see UTRACE=-p" : refusal.c_str());
  return 1;
}
