// STUB: placeholder until the module is written.
#include "string_helpers.h"

#include <cstdlib>

void utlInit() {}
void utlTerm() {}
void utlInitLocale() {}
const std::string& utlGetEnvironmentBytes() { static std::string s; return s; }
const std::optional<std::u16string>& utlGetEnvironmentChars() { static std::optional<std::u16string> v; return v; }
size_t utlStrchr(std::string_view, char) { return {}; }
size_t utlStrrchr(std::string_view, char) { return {}; }
size_t utlStrpbrk(std::string_view, std::string_view) { return {}; }
size_t utlStrspn(std::string_view, std::string_view) { return {}; }
std::optional<std::string_view> utlStrtok(std::string_view&, std::string_view) { return {}; }
std::vector<std::string> utlSplit(std::string_view, std::string_view) { return {}; }
bool utlEnforceEnvValue(const char*, std::string_view, const char*, bool) { return {}; }
bool utlEnforceLackOfEnvValue(const char*, std::string_view, const char*) { return {}; }
std::string utlPrintEnvironment(std::u16string_view) { return {}; }
std::string utlStrToUpper(std::string_view) { return {}; }
std::vector<std::string> utlCopyAndQuoteArray(const std::vector<std::string>&) { return {}; }
std::vector<std::string> utlCopyAndQuoteArgvArray(const std::vector<std::string>&) { return {}; }
