// Line reader for configuration files and jvm.cfg.
//
// A physical line is everything up to and including a line feed, or up to the end of the
// file. All open files share one line buffer: a line is used up before the next one is
// read, and files are opened and closed strictly nested (include), so the innermost open
// file is the one whose line count error messages quote. A line longer than the buffer
// makes the buffer grow by 512 and the line is read again from its start; the buffer keeps
// its size afterwards.
//
// A significant line is a physical line that holds something other than white space and
// does not begin (after white space) with '#'; it is returned without the white space
// around it. A '#' later in a line is ordinary text.
#include "line_reader.h"

#include <algorithm>
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

// Reads at most fileBufferSize - 1 characters, stopping after a line feed; the count read.
size_t readChunk(std::FILE* stream) {
  size_t limit = fileBufferSize - 1;
  size_t count = 0;
  while (count < limit) {
    int c = std::getc(stream);
    if (c == EOF) break;
    fileBuffer[count++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  fileBuffer[count] = '\0';
  return count;
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
  std::FILE* stream = file->stream;
  off_t start = ::ftello(stream);
  size_t length = 0;
  for (;;) {
    length = readChunk(stream);
    if (length == 0 || fileBuffer[0] == '\0' || std::ferror(stream)) return std::nullopt;
    bool complete = length < fileBufferSize - 1 || fileBuffer[length - 1] == '\n' || std::feof(stream);
    if (complete) break;
    allocateBuffer(fileBufferSize + kBufferGrowth);
    if (start < 0 || ::fseeko(stream, start, SEEK_SET) != 0) return std::nullopt;
  }
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
