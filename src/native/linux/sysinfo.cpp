// Memory this process may use: the physical memory, lowered to the memory limit of the
// control group the process runs in (a container's limit, typically).
#include "sysinfo.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string_view>

namespace {

// Limits at or above this (1 EiB) are the kernel's way of saying "unlimited"; cgroup v1
// reports 0x7FFFFFFFFFFFF000 for an unlimited group.
constexpr uint64_t kAbsurdLimit = uint64_t{1} << 60;

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<uint64_t> limitFromFile(const std::string& path) {
  std::optional<std::string> text = readFile(path);
  if (!text) return std::nullopt;
  return sysinfoParseMemoryLimit(*text);
}

// The group's own limit file, or the hierarchy's root one when the group's path is not
// visible (a container that sees only its own part of the hierarchy).
std::optional<uint64_t> limitOfGroup(const std::string& mount, const std::string& group, const char* file) {
  std::string own = mount + (group == "/" ? "" : group) + "/" + file;
  if (std::optional<std::string> text = readFile(own)) return sysinfoParseMemoryLimit(*text);
  return limitFromFile(mount + "/" + file);
}

// /proc/self/cgroup lines read "id:controllers:path": "0::/path" is the unified (v2)
// hierarchy, a line whose controllers include "memory" is the v1 memory hierarchy.
std::optional<uint64_t> controlGroupLimit() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  std::optional<std::string> unified;
  std::optional<std::string> memory;
  while (std::getline(in, line)) {
    size_t first = line.find(':');
    size_t second = first == std::string::npos ? std::string::npos : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    std::string_view controllers = std::string_view(line).substr(first + 1, second - first - 1);
    std::string path = line.substr(second + 1);
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      unified = path;
      continue;
    }
    size_t start = 0;
    while (start <= controllers.size()) {
      size_t comma = controllers.find(',', start);
      if (comma == std::string_view::npos) comma = controllers.size();
      if (controllers.substr(start, comma - start) == "memory") memory = path;
      start = comma + 1;
    }
  }
  if (memory) {
    if (std::optional<uint64_t> limit =
            limitOfGroup("/sys/fs/cgroup/memory", *memory, "memory.limit_in_bytes"))
      return limit;
  }
  if (unified) return limitOfGroup("/sys/fs/cgroup", *unified, "memory.max");
  return std::nullopt;
}

}  // namespace

std::optional<uint64_t> sysinfoParseMemoryLimit(const std::string& text) {
  std::string_view value(text);
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ' || value.back() == '\t'))
    value.remove_suffix(1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  if (value.empty() || value == "max") return std::nullopt;
  uint64_t limit = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    if (limit > (UINT64_MAX - 9) / 10) return std::nullopt;
    limit = limit * 10 + static_cast<uint64_t>(c - '0');
  }
  if (limit == 0 || limit >= kAbsurdLimit) return std::nullopt;
  return limit;
}

uint64_t getTotalPhysMem() {
  long pageSize = ::sysconf(_SC_PAGESIZE);
  long pages = ::sysconf(_SC_PHYS_PAGES);
  if (pageSize <= 0 || pages <= 0) return 0;
  uint64_t total = static_cast<uint64_t>(pageSize) * static_cast<uint64_t>(pages);
  std::optional<uint64_t> limit = controlGroupLimit();
  if (limit && *limit < total) total = *limit;
  return total;
}
