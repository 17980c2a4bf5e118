// Fuzzes the reading of a jar: the inflater over arbitrary data, and, with the input
// written to a file, the archive's directory walk and the manifest's attributes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "jar_manifest.h"
#include "zip_inflate.h"

namespace {

std::string jarFile;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  jarFile = "/tmp/jar-manifest-fuzz-" + std::to_string(::getpid()) + ".jar";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  zipInflate(bytes, 1 << 16);

  std::FILE* file = std::fopen(jarFile.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  std::string manifest = zipReadEntry(jarFile, "META-INF/MANIFEST.MF", 1 << 16).value_or(std::string(bytes));
  if (std::optional<std::string> classPath = zipManifestAttribute(manifest, "Class-Path")) {
    zipManifestClassPath(*classPath, jarFile);
  }
  ::unlink(jarFile.c_str());
  return 0;
}
