// File ownership and permission checks, and byte-range reads of files.
#include "file_helpers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace {

constexpr uint32_t kAllWriteBits = 0222;
constexpr uint32_t kGroupOtherWriteBits = 022;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

FileAccessInfo hmdStat(const std::string& path) {
  FileAccessInfo info;
  struct stat buffer {};
  if (::stat(path.c_str(), &buffer) != 0) return info;
  info.valid = true;
  info.path = path;
  info.owner = buffer.st_uid;
  info.group = buffer.st_gid;
  info.mode = buffer.st_mode;
  return info;
}

bool hmdCheckProcessFileAccess(const FileAccessInfo& info) {
  if (!info.valid) return false;
  if (info.owner != ::geteuid() || info.group != ::getegid()) {
    std::fprintf(stderr, "Error: file '%s' must have the same owner and group as this process.\n",
                 info.path.c_str());
    return false;
  }
  if ((info.mode & kGroupOtherWriteBits) != 0) {
    std::fprintf(stderr, "Error: file '%s' cannot have group or other write access.\n", info.path.c_str());
    return false;
  }
  return true;
}

bool hmdCompareFileAccess(const FileAccessInfo& reference, const FileAccessInfo& other) {
  if (!reference.valid || !other.valid) return false;
  if (reference.owner != other.owner || reference.group != other.group) {
    std::fprintf(stderr, "Error: file '%s' and '%s' must have the same owner and group.\n",
                 reference.path.c_str(), other.path.c_str());
    return false;
  }
  // Only write bits count: the other file may be more readable or executable.
  if ((other.mode & kAllWriteBits & ~reference.mode) != 0) {
    std::fprintf(stderr, "Error: file '%s' cannot have more open write access than '%s'.\n",
                 other.path.c_str(), reference.path.c_str());
    return false;
  }
  return true;
}

int64_t hmdGetFileSize(const std::string& path) {
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) return -1;
  if (::fseeko(file.get(), 0, SEEK_END) != 0) return -1;
  off_t size = ::ftello(file.get());
  return size < 0 ? -1 : static_cast<int64_t>(size);
}

std::string hmdCreateFileContent(const std::string& path, int64_t offset, size_t count) {
  std::string content;
  if (offset < 0 || count == 0) return content;
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) return content;
  if (::fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return content;
  content.resize(count);
  size_t got = std::fread(content.data(), 1, count, file.get());
  content.resize(got);
  return content;
}
