// Where the launcher is installed, worked out once from argv[0].
#include "launcher_location.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "process_end.h"
#include "string_helpers.h"
#include "trace.h"

namespace {

constexpr size_t kMaxPath = 1024;
// Names the located launcher file for the process a re-exec starts, so that it finds the
// same file and home whatever the configuration did to PATH or the working directory.
// Taken out of the environment again at the new process's start.
constexpr const char kLocationMarker[] = "LAUNCHER_REEXEC_FILE";

std::optional<std::string> fullLauncherFileName;
std::optional<std::string> fullLauncherPath;
std::optional<std::string> appName;
std::optional<std::string> appHome;

std::string cut(std::string text, size_t length) {
  if (text.size() > length) text.resize(length);
  return text;
}

std::string copyOf(const std::optional<std::string>& value, size_t length) {
  if (!value || length == 0) return {};
  return value->substr(0, length);
}

// The kernel started us from a regular executable file, so a directory or a
// non-executable file of the same name earlier on PATH is not the launcher.
bool isExecutableFile(const std::string& candidate) {
  struct stat info {};
  return stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0;
}

// PATH entries are separated by ':'; empty entries are skipped, so they never stand for
// the current directory.
std::optional<std::string> searchPath(std::string_view name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  for (const std::string& directory : utlSplit(path, ":")) {
    std::string candidate = cut(cut(directory, kMaxPath - 1) + "/" + std::string(name), kMaxPath);
    if (isExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

std::string currentDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  return cut(buffer.data(), kMaxPath);
}

// Drops "." components and lets ".." remove the component before it (nothing above
// the root); every kept component is written with a leading '/'.
std::string normaliseAbsolute(std::string_view name) {
  std::vector<std::string_view> stack;
  std::string_view state = name.substr(1);
  while (std::optional<std::string_view> component = utlStrtok(state, "/")) {
    if (*component == ".") continue;
    if (*component == "..") {
      if (!stack.empty()) stack.pop_back();
      continue;
    }
    stack.push_back(*component);
  }
  std::string result;
  for (std::string_view component : stack) {
    result += '/';
    result += component;
  }
  return result;
}

// The file named by the re-exec marker, when it is the very file this process runs
// (anything else in the variable is ignored). The marker is taken out either way.
std::optional<std::string> takeHandedLocation() {
  const char* value = std::getenv(kLocationMarker);
  std::optional<std::string> handed;
  if (value != nullptr) handed = value;
  ::unsetenv(kLocationMarker);
  if (!handed || !handed->starts_with('/')) return std::nullopt;
  struct stat named {};
  struct stat running {};
  if (stat(handed->c_str(), &named) != 0 || stat("/proc/self/exe", &running) != 0) return std::nullopt;
  if (named.st_dev != running.st_dev || named.st_ino != running.st_ino) return std::nullopt;
  return handed;
}

}  // namespace

bool hmdSetLauncherLocation(std::string_view resolvedName, std::string& homeOut) {
  std::string name(resolvedName);
  for (size_t doubled = name.find("//"); doubled != std::string::npos; doubled = name.find("//")) {
    name.erase(doubled, 1);
  }
  if (!name.starts_with('/')) name = currentDirectory() + "/" + name;
  name = normaliseAbsolute(name);

  hmdSetFullLauncherFileName(name);
  hmdSetApplicationName(name);

  size_t slash = name.rfind('/');
  std::string directory = slash == std::string::npos ? std::string() : name.substr(0, slash);
  hmdSetFullLauncherPath(directory);

  // The home is the parent of the launcher's directory, or its grandparent when that
  // directory is a 'patches' directory below the normal one.
  size_t last = directory.rfind('/');
  if (last == std::string::npos) {
    homeOut.clear();
    return false;
  }
  bool inPatches = directory.compare(last + 1, std::string::npos, "patches") == 0;
  std::string home = directory.substr(0, last);
  if (inPatches) {
    last = home.rfind('/');
    if (last == std::string::npos) {
      homeOut.clear();
      return false;
    }
    home.resize(last);
  }
  appHome = home;
  homeOut = hmdGetApplicationHome(kMaxPath);
  return true;
}

bool hmdSetApplicationHome(std::string_view argv0, std::string& homeOut) {
  if (std::optional<std::string> handed = takeHandedLocation())
    return hmdSetLauncherLocation(*handed, homeOut);
  std::string candidate;
  if (argv0.find('/') != std::string_view::npos) {
    candidate = cut(std::string(argv0), kMaxPath);
  } else {
    std::optional<std::string> found = searchPath(cut(std::string(argv0), kMaxPath));
    if (!found) return false;
    candidate = *found;
  }

  char* resolved = realpath(candidate.c_str(), nullptr);
  if (resolved == nullptr) return false;
  std::string name = resolved;
  std::free(resolved);
  return hmdSetLauncherLocation(name, homeOut);
}

void hmdHandLocationToReexec() {
  if (fullLauncherFileName) hmdReexecVariable(kLocationMarker, *fullLauncherFileName);
}

void hmdSetFullLauncherFileName(std::string_view text) {
  if (text.empty()) return;
  fullLauncherFileName = text;
  ut_tproda("The full launcher filename and path is set = %.*s", ut_textLimit(),
            fullLauncherFileName->c_str());
}

void hmdSetFullLauncherPath(std::string_view text) {
  if (text.empty()) return;
  fullLauncherPath = text;
  ut_tproda("The full launcher path is set = %.*s", ut_textLimit(), fullLauncherPath->c_str());
}

void hmdSetApplicationName(std::string_view path) {
  size_t slash = path.rfind('/');
  appName = slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string hmdGetFullLauncherFileName(size_t length) {
  return copyOf(fullLauncherFileName, length == 0 ? 0 : length - 1);
}

std::string hmdGetFullLauncherPath(size_t length) {
  return copyOf(fullLauncherPath, length == 0 ? 0 : length - 1);
}

std::string hmdGetApplicationHome(size_t length) { return copyOf(appHome, length); }

const char* hmdGetApplicationName() { return appName ? appName->c_str() : nullptr; }

std::optional<std::string> hmdGetKestrixProperty(std::string_view) { return std::nullopt; }
