// Tests of reading a jar's manifest: DEFLATE blocks of each type and damaged data, entries
// of an archive with a script before it, the manifest's attributes and its class path.
#include "jar_manifest.h"

#include <gtest/gtest.h>

#include "test_support.h"
#include "zip_inflate.h"

namespace {

using testsupport::TempFile;

std::string le(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

// An archive of stored entries, after prefix; the offsets count from the archive's start.
std::string archive(const std::vector<std::pair<std::string, std::string>>& entries,
                    const std::string& prefix) {
  std::string locals;
  std::string directory;
  for (const auto& [name, data] : entries) {
    uint32_t offset = static_cast<uint32_t>(locals.size());
    std::string sizes = le(0, 4) + le(data.size(), 4) + le(data.size(), 4);  // crc, sizes
    locals += le(0x04034b50, 4) + le(10, 2) + le(0, 2) + le(0, 2) + le(0, 4) + sizes + le(name.size(), 2) +
              le(3, 2) + name + "xyz" + data;
    directory += le(0x02014b50, 4) + le(10, 2) + le(10, 2) + le(0, 2) + le(0, 2) + le(0, 4) + sizes +
                 le(name.size(), 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(offset, 4) +
                 name;
  }
  std::string end = le(0x06054b50, 4) + le(0, 4) + le(entries.size(), 2) + le(entries.size(), 2) +
                    le(directory.size(), 4) + le(locals.size(), 4) + le(0, 2);
  return prefix + locals + directory + end;
}

}  // namespace

TEST(ZipInflate, BlocksOfEachTypeAndDamagedData) {
  struct Case {
    const char* what;
    std::string compressed;
    std::optional<std::string> expected;
    size_t limit = 1 << 20;
  };
  const std::string fixed("\xcb\x48\xcd\xc9\xc9\x57\xc8\x40\x27\x01", 10);
  const std::string copies(
      "\x73\xce\x49\x2c\x2e\xd6\x0d\x48\x2c\xc9\xb0\x52\xc8\xc9\x4c\xd2\x4f\xcc\x29\xc8\x48\xd4\xcb\x4a\x2c"
      "\x02\xf3"
      "\x92\x52\x4b\x10\x9c\xf4\xc4\xdc\x5c\x04\x2f\x25\x35\x07\x49\x2e\xb5\xa0\x38\x33\x27\x3f\x0f\xce\xaf"
      "\x82\x6a"
      "\xe4\x02\x00",
      57);
  const std::string dynamic(
      "\x05\xc1\x01\x01\x00\x00\x08\xc3\xa0\xac\xec\xf6\xcf\x20\x00\x50\xd5\x76\x00\x54\xb5\x1d\x00\x55\x6d"
      "\x07\x40"
      "\x55\xdb\x69\xa7\x1d\x85\x1e",
      34);
  const std::string stored(
      "\x01\x0c\x00\xf3\xff"
      "stored bytes",
      17);
  const std::string copiesText =
      "Class-Path: lib/alpha.jar lib/beta.jar lib/gamma.jar lib/delta.jar lib/epsilon.jar lib/zeta.jar\n";
  std::string dynamicText;
  for (int i = 0; i < 4; ++i) dynamicText += "aaaaaaaaaabbbbbccd";
  dynamicText += "abcdabcdaabbaaab";
  const Case cases[] = {
      {"fixed codes with copies", fixed, "hello hello hello hello"},
      {"fixed codes, longer copies", copies, copiesText},
      {"dynamic codes", dynamic, dynamicText},
      {"stored block", stored, "stored bytes"},
      {"empty input", "", std::nullopt},
      {"ends early", fixed.substr(0, 5), std::nullopt},
      {"stored length and complement disagree",
       std::string("\x01\x0c\x00\xf3\xfe"
                   "stored bytes",
                   17),
       std::nullopt},
      {"block type 3", "\x07", std::nullopt},
      {"copy from before the start", std::string("\x03\x02\x00", 3), std::nullopt},
      {"more than the limit", fixed, std::nullopt, 10},
      {"exactly the limit", fixed, "hello hello hello hello", 23},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zipInflate(c.compressed, c.limit), c.expected) << c.what;
  }
}

TEST(JarManifest, EntriesOfAnArchiveBehindAScript) {
  const std::string manifest = "Manifest-Version: 1.0\r\nMain-Class: com.example.Main\r\n\r\n";
  for (const std::string& prefix : {std::string(), std::string("#!/bin/sh\nexec java -jar \"$0\"\n")}) {
    TempFile jar(archive({{"META-INF/", ""}, {"META-INF/MANIFEST.MF", manifest}, {"a.txt", "A"}}, prefix));
    EXPECT_EQ(zipReadJarManifest(jar.path()), manifest) << prefix;
    EXPECT_EQ(zipReadEntry(jar.path(), "a.txt", 100), "A");
    EXPECT_EQ(zipReadEntry(jar.path(), "A.TXT", 100), "A");
    EXPECT_EQ(zipReadEntry(jar.path(), "b.txt", 100), std::nullopt);
    EXPECT_EQ(zipReadEntry(jar.path(), "META-INF/MANIFEST.MF", 10), std::nullopt) << "over the limit";
  }
  TempFile none(archive({{"a.txt", "A"}}, ""));
  EXPECT_EQ(zipReadJarManifest(none.path()), std::nullopt);
  TempFile text("Main-Class: not an archive\n");
  EXPECT_EQ(zipReadJarManifest(text.path()), std::nullopt);
  EXPECT_EQ(zipReadJarManifest("/nonexistent/app.jar"), std::nullopt);
  std::string whole = archive({{"META-INF/MANIFEST.MF", manifest}}, "");
  TempFile cut(whole.substr(0, whole.size() - 10));
  EXPECT_EQ(zipReadJarManifest(cut.path()), std::nullopt);
}

TEST(JarManifest, AttributesOfTheMainSection) {
  const std::string manifest =
      "Manifest-Version: 1.0\n"
      "main-class: com.example.Main\r\n"
      "Class-Path: lib/a.jar lib/b\n"
      " .jar lib/c.jar\n"
      "Empty: \n"
      "\n"
      "Name: com/example/\n"
      "Sealed: true\n";
  EXPECT_EQ(zipManifestAttribute(manifest, "Main-Class"), "com.example.Main");
  EXPECT_EQ(zipManifestAttribute(manifest, "Class-Path"), "lib/a.jar lib/b.jar lib/c.jar");
  EXPECT_EQ(zipManifestAttribute(manifest, "Empty"), "");
  EXPECT_EQ(zipManifestAttribute(manifest, "Sealed"), std::nullopt) << "not in the main section";
  EXPECT_EQ(zipManifestAttribute(manifest, "Main"), std::nullopt);
  EXPECT_EQ(zipManifestAttribute("Main-Class: Last", "Main-Class"), "Last") << "no line end at the end";
}

TEST(JarManifest, ClassPathEntriesAreFilesBesideTheJar) {
  EXPECT_EQ(zipManifestClassPath("lib/a.jar  my%20lib/b.jar classes/ /opt/c.jar file:d.jar http://x/e.jar",
                                 "/app/bin/app.jar"),
            (std::vector<std::string>{"/app/bin/lib/a.jar", "/app/bin/my lib/b.jar", "/app/bin/classes",
                                      "/opt/c.jar", "/app/bin/d.jar"}));
  EXPECT_TRUE(zipManifestClassPath("  ", "/app/app.jar").empty());
}
