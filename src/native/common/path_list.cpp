// Path arrays and the normalisation of single paths.
#include "path_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "config_reader.h"
#include "launcher_location.h"
#include "string_helpers.h"
#include "trace.h"

namespace {

// Configuration mode in which the configuration came from the launcher's own archive
// comment through a temporary file: its name says nothing about the installation.
constexpr int kConfigFromArchiveComment = 1;

std::string baseDirectory() {
  std::optional<std::string> configFile = cfgGetCurrentConfigFile();
  if (configFile && cfgGetConfigFileMode() != kConfigFromArchiveComment) {
    size_t slash = utlStrrchr(*configFile, '/');
    return slash == std::string_view::npos ? *configFile : configFile->substr(0, slash);
  }
  return hmdGetFullLauncherPath();
}

bool lessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

bool PathArray::append(std::string path) {
  if (!index_.insert(path).second) return false;
  entries_.push_back(std::move(path));
  return true;
}

size_t PathArray::remove(const std::string& path) {
  if (index_.erase(path) == 0) return 0;
  return std::erase(entries_, path);
}

void PathArray::sortTailIgnoringCase(size_t from) {
  if (from >= entries_.size()) return;
  std::stable_sort(entries_.begin() + static_cast<std::ptrdiff_t>(from), entries_.end(), lessIgnoringCase);
}

void PathArray::clear() {
  entries_.clear();
  index_.clear();
}

// Normalisation works on components split at '/' or '\'. "." vanishes; ".." pops the
// component before it. Above the root there is nothing, so an absolute path drops a
// surplus ".."; a relative path keeps its leading ".." components, and the floor marks
// how many of them the stack holds so that no later ".." pops one.
std::string utlMakeAbsPath(std::string_view path, bool makeAbsolute) {
  std::string text;
  if (path.starts_with('/') || !makeAbsolute) {
    text = path;
  } else {
    text = baseDirectory() + "/" + std::string(path);
  }
  bool absolute = text.starts_with('/');

  std::vector<std::string_view> stack;
  size_t floor = 0;
  std::string_view state = text;
  while (std::optional<std::string_view> component = utlStrtok(state, "/\\")) {
    if (*component == ".") continue;
    if (*component == "..") {
      if (stack.size() > floor) {
        stack.pop_back();
      } else if (!absolute) {
        stack.push_back(*component);
        ++floor;
      }
      continue;
    }
    stack.push_back(*component);
  }

  std::string result = absolute ? "/" : "";
  if (!absolute && stack.empty()) return ".";
  for (size_t i = 0; i < stack.size(); ++i) {
    if (i > 0) result += '/';
    result += stack[i];
  }
  return result;
}

bool utlFileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// S_ISDIR, not the bare directory bit: block devices and sockets carry that bit too.
bool utlIsDir(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void utlAddPathUnique(PathArray& array, std::string_view path, bool makeAbsolute) {
  std::string normalised = utlMakeAbsPath(path, makeAbsolute);
  if (!utlFileExists(normalised)) {
    ut_tproda("Ignoring '%.*s' - it does not exist", ut_textLimit(), normalised.c_str());
    return;
  }
  array.append(std::move(normalised));
}

void utlPathStringToArray(PathArray& array, std::string_view text, bool makeAbsolute) {
  std::string_view state = text;
  while (std::optional<std::string_view> component = utlStrtok(state, ":")) {
    utlAddPathUnique(array, *component, makeAbsolute);
  }
}

void utlRemoveFromPath(PathArray& array, std::string_view path) {
  array.remove(utlFixDirSeparators(path));
}

void utlRemoveFromArray(PathArray& array, const PathArray& toRemove) {
  if (array.empty() || toRemove.empty()) return;
  PathArray kept;
  for (const std::string& entry : array.entries()) {
    if (!toRemove.contains(entry)) kept.append(entry);
  }
  array = std::move(kept);
}

std::optional<std::string> utlPathArrayToString(const PathArray& array) {
  if (array.empty()) return std::nullopt;
  size_t length = 0;
  for (const std::string& entry : array.entries()) length += entry.size() + 1;
  std::string joined;
  joined.reserve(length);
  for (const std::string& entry : array.entries()) {
    if (&entry != &array.entries().front()) joined += ':';
    joined += entry;
  }
  return joined;
}

void utlFixDirSeparators(std::string& text) {
  size_t from = 0;
  while (from < text.size()) {
    size_t found = utlStrchr(std::string_view(text).substr(from), '\\');
    if (found == std::string_view::npos) return;
    text[from + found] = '/';
    from += found + 1;
  }
}

std::string utlFixDirSeparators(std::string_view text) {
  std::string copy(text);
  utlFixDirSeparators(copy);
  return copy;
}

std::optional<std::string> utlEnsurePathIsSecure(std::optional<std::string> path) { return path; }
