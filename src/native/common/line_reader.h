// Line reader for configuration files and jvm.cfg: lines of any length, blank and
// comment lines skipped, white space trimmed, lines counted per open file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// An open file. Files are opened and closed strictly nested.
struct FilFile {
  std::FILE* stream = nullptr;
  int32_t lineNumber = 0;  // physical lines read so far
};

void filInit();
void filTerm();

// Opens the file and starts its line count; null when it cannot be opened.
FilFile* filOpenFile(const std::string& path, const char* mode, bool checkAccess);
bool filIsFileAccessCorrect();
// The next physical line without its line feed; none at end of file or on error.
std::optional<std::string_view> filReadLineFromFile(FilFile* file);
// The next significant line, trimmed; none at end of file or on error.
std::optional<std::string_view> filReadNextLineFromFile(FilFile* file);
int32_t filGetCurrentLineNumber();
// Whether the stream reported a read error.
bool filHasReadError(FilFile* file);
void filCloseFile(FilFile* file);
// The line buffer's capacity in characters.
uint32_t filGetBufferSize();

uint32_t get2LE(const unsigned char* bytes, size_t offset);
uint32_t get4LE(const unsigned char* bytes, size_t offset);
