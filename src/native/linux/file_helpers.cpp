// STUB: placeholder until the module is written.
#include "file_helpers.h"

#include <cstdlib>

FileAccessInfo hmdStat(const std::string&) { return {}; }
bool hmdCheckProcessFileAccess(const FileAccessInfo&) { return {}; }
bool hmdCompareFileAccess(const FileAccessInfo&, const FileAccessInfo&) { return {}; }
int64_t hmdGetFileSize(const std::string&) { return {}; }
std::string hmdCreateFileContent(const std::string&, int64_t, size_t) { return {}; }
