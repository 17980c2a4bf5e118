// STUB: placeholder until the module is written.
#include "line_reader.h"

#include <cstdlib>

void filInit() {}
void filTerm() {}
FilFile* filOpenFile(const std::string&, const char*, bool) { return nullptr; }
bool filIsFileAccessCorrect() { return {}; }
std::optional<std::string_view> filReadLineFromFile(FilFile*) { return {}; }
std::optional<std::string_view> filReadNextLineFromFile(FilFile*) { return {}; }
int32_t filGetCurrentLineNumber() { return {}; }
bool filHasReadError(FilFile*) { return {}; }
void filCloseFile(FilFile*) {}
uint32_t filGetBufferSize() { return {}; }
uint32_t get2LE(const unsigned char*, size_t) { return {}; }
uint32_t get4LE(const unsigned char*, size_t) { return {}; }
