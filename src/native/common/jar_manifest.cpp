// Reading one entry of a jar, and the manifest's attributes.
//
// A ZIP archive ends with the end-of-central-directory record (signature 0x06054b50): its
// central directory's size at offset 12 and offset at 16. Each central directory entry
// (0x02014b50) gives the method at 10, the compressed size at 20, the name's length at 28,
// the extra field's at 30, the comment's at 32, the local header's offset at 42 and the
// name at 46. The local header (0x04034b50) gives its own name and extra lengths at 26 and
// 28; the data follows its 30 fixed bytes and those two fields. Offsets are counted from
// the archive's start, which is where the directory ends minus its size and offset: a jar
// with a script before it reads as well. Archives that need the 64-bit records are not
// read.
//
// A manifest is lines of "Name: value"; a line that starts with one space continues the
// one before it. The main section ends at the first empty line.
#include "jar_manifest.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "file_helpers.h"
#include "line_reader.h"
#include "zip_inflate.h"

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kEntrySignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr int64_t kEndSize = 22;
constexpr int64_t kEntrySize = 46;
constexpr int64_t kLocalSize = 30;
constexpr int64_t kMaxComment = 65535;
constexpr uint32_t kStored = 0;
constexpr uint32_t kDeflated = 8;
constexpr size_t kManifestLimit = 1 << 20;

const unsigned char* bytesOf(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

std::string decodeEscapes(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> zipReadEntry(const std::string& archive, std::string_view name, size_t limit) {
  int64_t size = hmdGetFileSize(archive);
  if (size < kEndSize) return std::nullopt;
  int64_t tailStart = std::max<int64_t>(0, size - kEndSize - kMaxComment);
  std::string tail = hmdCreateFileContent(archive, tailStart, static_cast<size_t>(size - tailStart));
  int64_t end = -1;
  for (int64_t i = static_cast<int64_t>(tail.size()) - kEndSize; i >= 0; --i) {
    if (get4LE(bytesOf(tail), static_cast<size_t>(i)) == kEndSignature) {
      end = i;
      break;
    }
  }
  if (end < 0) return std::nullopt;
  uint32_t directorySize = get4LE(bytesOf(tail), static_cast<size_t>(end) + 12);
  uint32_t directoryOffset = get4LE(bytesOf(tail), static_cast<size_t>(end) + 16);
  int64_t directoryStart = tailStart + end - directorySize;
  int64_t base = directoryStart - directoryOffset;
  if (directoryOffset == 0xffffffff || directoryStart < 0 || base < 0) return std::nullopt;

  std::string directory = hmdCreateFileContent(archive, directoryStart, directorySize);
  if (directory.size() != directorySize) return std::nullopt;
  for (size_t at = 0; at + kEntrySize <= directory.size();) {
    const unsigned char* entry = bytesOf(directory) + at;
    if (get4LE(entry, 0) != kEntrySignature) return std::nullopt;
    uint32_t method = get2LE(entry, 10);
    uint32_t compressedSize = get4LE(entry, 20);
    uint32_t nameLength = get2LE(entry, 28);
    size_t next = at + kEntrySize + nameLength + get2LE(entry, 30) + get2LE(entry, 32);
    if (at + kEntrySize + nameLength > directory.size()) return std::nullopt;
    std::string_view entryName(directory.data() + at + kEntrySize, nameLength);
    if (entryName.size() != name.size() || strncasecmp(entryName.data(), name.data(), name.size()) != 0) {
      at = next;
      continue;
    }
    int64_t local = base + get4LE(entry, 42);
    std::string header = hmdCreateFileContent(archive, local, kLocalSize);
    if (header.size() != kLocalSize || get4LE(bytesOf(header), 0) != kLocalSignature) return std::nullopt;
    int64_t dataStart = local + kLocalSize + get2LE(bytesOf(header), 26) + get2LE(bytesOf(header), 28);
    std::string data = hmdCreateFileContent(archive, dataStart, compressedSize);
    if (data.size() != compressedSize) return std::nullopt;
    if (method == kStored) return data.size() <= limit ? std::optional(std::move(data)) : std::nullopt;
    if (method == kDeflated) return zipInflate(data, limit);
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> zipReadJarManifest(const std::string& jar) {
  return zipReadEntry(jar, "META-INF/MANIFEST.MF", kManifestLimit);
}

std::optional<std::string> zipManifestAttribute(std::string_view manifest, std::string_view name) {
  std::optional<std::string> found;
  bool continuing = false;
  while (!manifest.empty()) {
    size_t end = manifest.find_first_of("\r\n");
    std::string_view line = manifest.substr(0, end);
    manifest.remove_prefix(end == std::string_view::npos ? manifest.size() : end);
    if (manifest.starts_with("\r\n")) {
      manifest.remove_prefix(2);
    } else if (!manifest.empty()) {
      manifest.remove_prefix(1);
    }
    if (line.empty()) break;  // the main section ends
    if (line.front() == ' ') {
      if (continuing) found->append(line.substr(1));
      continue;
    }
    if (found && continuing) return found;
    size_t colon = line.find(": ");
    continuing = colon == name.size() && strncasecmp(line.data(), name.data(), name.size()) == 0;
    if (continuing) found = std::string(line.substr(colon + 2));
  }
  return found;
}

std::vector<std::string> zipManifestClassPath(std::string_view value, const std::string& jar) {
  std::vector<std::string> files;
  size_t slash = jar.rfind('/');
  std::string directory = slash == std::string::npos ? std::string() : jar.substr(0, slash + 1);
  while (!value.empty()) {
    size_t start = value.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    value.remove_prefix(start);
    size_t end = value.find(' ');
    std::string_view url = value.substr(0, end);
    value.remove_prefix(end == std::string_view::npos ? value.size() : end);
    if (url.starts_with("file:")) {
      url.remove_prefix(5);
    } else if (url.find(':') != std::string_view::npos) {
      continue;  // another scheme: nothing on this machine's file system
    }
    std::string file = decodeEscapes(url);
    if (file.size() > 1 && file.back() == '/') file.pop_back();
    files.push_back(file.starts_with('/') ? file : directory + file);
  }
  return files;
}
