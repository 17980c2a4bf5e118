// The comment of a ZIP archive appended to a file (the launcher's own executable), which
// can carry the configuration.
//
// An archive ends with its end-of-central-directory record:
//
//   offset 0   4 bytes  signature 0x06054b50 ('P' 'K' 5 6), little-endian
//   offset 20  2 bytes  comment length n, little-endian
//   offset 22  n bytes  the comment
//
// A record counts only when its comment ends exactly at the end of the file. The search
// reads the file backwards in windows of W = min(size, 64 KiB) bytes: the first window ends
// at the end of the file, each further one ends W - 22 bytes before the previous one's end,
// so neighbours overlap by the 22 bytes of the record's fixed part and a record across a
// border is seen whole in one of them. The window that would start before offset 0 starts
// at 0 and is the last. Within a window the candidates are tried from its end backwards, so
// the record nearest the end of the file wins. A comment is at most 65535 bytes long, so
// the search ends once no record further back could reach the end of the file.
#include "zip_comment.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "environment.h"
#include "file_helpers.h"
#include "line_reader.h"

namespace {

constexpr int64_t kRecordSize = 22;
constexpr int64_t kWindowSize = 65536;
constexpr int64_t kMaxCommentLength = 65535;
constexpr uint32_t kRecordSignature = 0x06054b50;

}  // namespace

std::optional<std::string> zipGetZipComment(const std::string& path) {
  int64_t size = hmdGetFileSize(path);
  if (size < 0) return std::nullopt;  // cannot be read: no comment
  if (size < kRecordSize) {
    std::fputs("Zip file size is unreasonably small\n", stdout);
    return std::nullopt;
  }
  const int64_t window = std::min(size, kWindowSize);
  // No record that starts before this offset can have its comment reach the end.
  const int64_t earliestRecord = size - kRecordSize - kMaxCommentLength;
  int64_t end = size;
  for (;;) {
    int64_t start = std::max<int64_t>(end - window, 0);
    std::string bytes = hmdCreateFileContent(path, start, static_cast<size_t>(window));
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (int64_t i = static_cast<int64_t>(bytes.size()) - kRecordSize; i >= 0; --i) {
      if (start + i < earliestRecord) break;
      // Most bytes are not the signature's first: checking it first keeps the scan of a
      // launcher's last 64 KiB, made on every start, cheap.
      if (data[i] != (kRecordSignature & 0xff) || get4LE(data, static_cast<size_t>(i)) != kRecordSignature)
        continue;
      int64_t length = get2LE(data, static_cast<size_t>(i) + 20);
      if (start + i + kRecordSize + length != size) continue;
      std::string comment = hmdCreateFileContent(path, size - length, static_cast<size_t>(length));
      if (static_cast<int64_t>(comment.size()) != length) return std::nullopt;
      return comment;
    }
    // The next window's candidates all lie at or before this one's start.
    if (start == 0 || start < earliestRecord) return std::nullopt;
    end = end - window + kRecordSize;
  }
}

std::optional<std::string> zipGetCommentFileName(const std::string& path) {
  std::optional<std::string> comment = zipGetZipComment(path);
  if (!comment) return std::nullopt;
  std::string_view text(*comment);
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return std::nullopt;
  return hmdWriteTempFile(text);
}
