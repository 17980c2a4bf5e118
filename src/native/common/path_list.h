// Path arrays (ordered, duplicate-free, existing, absolute/normalised paths) and
// the normalisation of single paths.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class PathArray {
 public:
  const std::vector<std::string>& entries() const { return entries_; }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  bool contains(const std::string& path) const { return index_.count(path) != 0; }

  // Appends a path that is not yet present; false (and nothing changes) when it is.
  bool append(std::string path);
  // Removes every entry equal to the path; the number removed.
  size_t remove(const std::string& path);
  // Sorts the entries from position `from` on, ascending, ignoring letter case.
  void sortTailIgnoringCase(size_t from);
  void clear();

 private:
  std::vector<std::string> entries_;
  std::unordered_set<std::string> index_;
};

// Normalises a path; a relative one is first based on the configuration file's directory
// (or the launcher's directory) when makeAbsolute is set.
std::string utlMakeAbsPath(std::string_view path, bool makeAbsolute);
bool utlFileExists(const std::string& path);
bool utlIsDir(const std::string& path);
// Adds the normalised path if it exists and is not yet present.
void utlAddPathUnique(PathArray& array, std::string_view path, bool makeAbsolute);
// Adds every ':'-separated component of the text with utlAddPathUnique.
void utlPathStringToArray(PathArray& array, std::string_view text, bool makeAbsolute);
// Removes every entry equal to the path (separators fixed, not otherwise normalised).
void utlRemoveFromPath(PathArray& array, std::string_view path);
// Removes every entry of toRemove from array.
void utlRemoveFromArray(PathArray& array, const PathArray& toRemove);
// The ':'-joined string, or none for an empty array.
std::optional<std::string> utlPathArrayToString(const PathArray& array);
// Turns every '\' into '/', in place, stepping over multibyte characters.
void utlFixDirSeparators(std::string& text);
std::string utlFixDirSeparators(std::string_view text);
// Security hook for finished path strings; refuses nothing on this host.
std::optional<std::string> utlEnsurePathIsSecure(std::optional<std::string> path);
