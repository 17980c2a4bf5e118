// Line reader for configuration files and jvm.cfg.
//
// A physical line is everything up to and including a line feed, or up to the end of the
// file. All open files share one line buffer: a line is used up before the next one is
// read, and files are opened and closed strictly nested (include), so the innermost open
// file is the one whose line count error messages quote. A line longer than the buffer
// makes the buffer grow by 512 until the line fits; the buffer keeps its size afterwards.
// The line is read once, whatever its length: growing step by step and reading it again
// from its start for every step would take minutes for a line of some megabytes.
//
// A significant line is a physical line that holds something other than white space and
// does not begin (after white space) with '#'; it is returned without the white space
// around it. A '#' later in a line is ordinary text.
#include "line_reader.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kInitialBufferSize = 1024;
constexpr uint32_t kBufferGrowth = 512;

std::vector<char> fileBuffer;
uint32_t fileBufferSize = 0;
std::vector<FilFile*> openFiles;

bool isLineSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

void allocateBuffer(uint32_t size) {
  fileBufferSize = size;
  fileBuffer.assign(static_cast<size_t>(size) + 1, '\0');
}

// The buffer size a line of this many characters needs: a chunk of fileBufferSize - 1
// characters must hold it with its line feed, or, for a last line without one, leave room
// to see the end of the file.
uint32_t sizeFor(size_t length, bool endsWithLineFeed) {
  size_t needed = length + (endsWithLineFeed ? 1 : 2);
  size_t size = fileBufferSize;
  while (size < needed) size += kBufferGrowth;
  return static_cast<uint32_t>(size);
}

}  // namespace

void filInit() {
  filTerm();
  allocateBuffer(kInitialBufferSize);
}

void filTerm() {
  for (FilFile* file : openFiles) {
    if (file->stream != nullptr) std::fclose(file->stream);
    delete file;
  }
  openFiles.clear();
  fileBuffer.clear();
  fileBuffer.shrink_to_fit();
  fileBufferSize = 0;
}

bool filIsFileAccessCorrect() { return true; }

FilFile* filOpenFile(const std::string& path, const char* mode, bool checkAccess) {
  if (checkAccess && !filIsFileAccessCorrect()) return nullptr;
  std::FILE* stream = std::fopen(path.c_str(), mode);
  if (stream == nullptr) return nullptr;
  auto* file = new FilFile{.stream = stream, .lineNumber = 0};
  openFiles.push_back(file);
  return file;
}

std::optional<std::string_view> filReadLineFromFile(FilFile* file) {
  if (file == nullptr || file->stream == nullptr) return std::nullopt;
  if (fileBufferSize == 0) allocateBuffer(kInitialBufferSize);
  char* text = nullptr;
  size_t capacity = 0;
  ssize_t read = ::getline(&text, &capacity, file->stream);
  if (read <= 0 || text[0] == '\0' || std::ferror(file->stream)) {
    std::free(text);
    return std::nullopt;
  }
  size_t length = static_cast<size_t>(read);
  uint32_t size = sizeFor(length, text[length - 1] == '\n');
  if (size != fileBufferSize) allocateBuffer(size);
  std::copy(text, text + length, fileBuffer.begin());
  fileBuffer[length] = '\0';
  std::free(text);
  if (fileBuffer[length - 1] == '\n') fileBuffer[--length] = '\0';
  // A zero byte inside the line ends it, as it ends any C string.
  length = std::find(fileBuffer.begin(), fileBuffer.begin() + static_cast<std::ptrdiff_t>(length), '\0') -
           fileBuffer.begin();
  ++file->lineNumber;
  return std::string_view(fileBuffer.data(), length);
}

std::optional<std::string_view> filReadNextLineFromFile(FilFile* file) {
  for (;;) {
    std::optional<std::string_view> line = filReadLineFromFile(file);
    if (!line) return std::nullopt;
    std::string_view text = *line;
    size_t first = 0;
    while (first < text.size() && isLineSpace(text[first])) ++first;
    if (first == text.size() || text[first] == '#') continue;
    size_t end = text.size();
    while (end > first && isLineSpace(text[end - 1])) --end;
    fileBuffer[text.data() - fileBuffer.data() + end] = '\0';
    return text.substr(first, end - first);
  }
}

int32_t filGetCurrentLineNumber() { return openFiles.empty() ? 0 : openFiles.back()->lineNumber; }

bool filHasReadError(FilFile* file) {
  return file != nullptr && file->stream != nullptr && std::ferror(file->stream) != 0;
}

void filCloseFile(FilFile* file) {
  if (file == nullptr) return;
  if (file->stream != nullptr) std::fclose(file->stream);
  auto it = std::find(openFiles.rbegin(), openFiles.rend(), file);
  if (it != openFiles.rend()) openFiles.erase(std::next(it).base());
  delete file;
}

uint32_t filGetBufferSize() { return fileBufferSize; }

uint32_t get2LE(const unsigned char* bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8;
}

uint32_t get4LE(const unsigned char* bytes, size_t offset) {
  return get2LE(bytes, offset) | get2LE(bytes, offset + 2) << 16;
}
