// Fuzzes the archive comment search over an arbitrary file. The input is repeated so that
// files larger than one 64 KiB window occur; the comment found must end the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zip_comment.h"

namespace {
std::string path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  path = "/tmp/zip-comment-fuzz-" + std::to_string(::getpid());
  std::atexit([] { ::unlink(path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
  // The first byte chooses how much leading filler precedes the input, in 4 KiB steps.
  std::string file = std::string(static_cast<size_t>(data[0] % 20) * 4096, 'x') + content;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return 0;
  std::fwrite(file.data(), 1, file.size(), out);
  std::fclose(out);
  std::optional<std::string> comment = zipGetZipComment(path);
  if (comment) {
    if (comment->size() + 22 > file.size()) std::abort();
    if (file.compare(file.size() - comment->size(), comment->size(), *comment) != 0) std::abort();
  }
  if (std::optional<std::string> name = zipGetCommentFileName(path)) ::unlink(name->c_str());
  return 0;
}
