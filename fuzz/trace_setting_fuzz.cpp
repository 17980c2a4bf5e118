// Fuzzes the UTRACE settings: the scan of a setting string, its cut to the 511 characters
// the variable is read with, the trace file header, and applying a setting that names no
// trace file (one that does would create files wherever the input points).
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string setting(reinterpret_cast<const char*>(data), size);
  setting = setting.substr(0, setting.find('\0'));

  TraceSetting parsed = ut_parseSetting(setting);
  // Production and level tracing exclude each other.
  if (parsed.prod && parsed.level != 0) std::abort();
  if (parsed.fileName.find_first_of(" \t") != std::string::npos) std::abort();

  ::setenv("UTRACE", setting.c_str(), 1);
  char buffer[512];
  const char* read = GetTraceSetting(buffer, sizeof buffer);
  if (read == nullptr || std::string(read) != setting.substr(0, 511)) std::abort();
  ::unsetenv("UTRACE");

  std::string header = ut_formatHeader(static_cast<std::time_t>(size) * 86400 * 31, setting);
  if (header.rfind("\nTRACE OUTPUT ", 0) != 0 || !header.ends_with(setting + "\n\n")) std::abort();

  if (ut_parseSetting(read).fileName.empty()) {
    ut_treset(read);
    if (ut_tison() != (ut_parseSetting(read).level != 0 ? 1 : 0)) std::abort();
    ut_tproda("fuzz %s", read);
  }
  ut_treset(nullptr);
  return 0;
}
