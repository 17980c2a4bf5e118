// File access checks and byte-range reads.
#pragma once

#include <cstdint>
#include <string>

struct FileAccessInfo {
  bool valid = false;
  std::string path;
  uint32_t owner = 0;
  uint32_t group = 0;
  uint32_t mode = 0;
};

FileAccessInfo hmdStat(const std::string& path);
// The file belongs to the effective user and group and is not group/other writable.
bool hmdCheckProcessFileAccess(const FileAccessInfo& info);
// The other file has the reference's owner and group and no write bit the reference lacks.
bool hmdCompareFileAccess(const FileAccessInfo& reference, const FileAccessInfo& other);

// The file's size in bytes; -1 when it cannot be opened.
int64_t hmdGetFileSize(const std::string& path);
// Up to count bytes of the file from offset (fewer near its end; none when it cannot be read).
std::string hmdCreateFileContent(const std::string& path, int64_t offset, size_t count);
