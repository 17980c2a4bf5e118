// STUB: placeholder until the module is written.
#include "environment.h"

#include <cstdlib>

bool hmdSetEnvironment(bool&) { return {}; }
std::string hmdGetEnvironmentBytes() { return {}; }
std::optional<std::u16string> hmdGetEnvironmentChars() { return {}; }
std::optional<std::string> hmdGetEnvironmentValue(const char*) { return {}; }
std::optional<std::string> hmdWriteTempFile(std::optional<std::string_view>) { return {}; }
void hmdWriteFileContent(const std::string&, std::string_view) {}
void hmdDeleteTempFile(const std::string&) {}
