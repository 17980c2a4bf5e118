// Tests of the start-up cache's choice: the release read from an installation's release
// file and the options each release family gets.
#include "startup_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Options = std::vector<std::string>;

std::string le(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

// A jar holding only a stored manifest.
std::string jarWithManifest(const std::string& manifest) {
  const std::string name = "META-INF/MANIFEST.MF";
  const std::string sizes = le(0, 4) + le(manifest.size(), 4) + le(manifest.size(), 4);
  const std::string local = le(0x04034b50, 4) + le(10, 2) + le(0, 2) + le(0, 2) + le(0, 4) + sizes +
                            le(name.size(), 2) + le(0, 2) + name + manifest;
  const std::string directory = le(0x02014b50, 4) + le(10, 2) + le(10, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                                sizes + le(name.size(), 2) + le(0, 4) + le(0, 4) + le(0, 4) + le(0, 4) + name;
  return local + directory + le(0x06054b50, 4) + le(0, 4) + le(1, 2) + le(1, 2) + le(directory.size(), 4) +
         le(local.size(), 4) + le(0, 2);
}

TEST(StartupCache, ReleaseAndFamilyFromTheReleaseFile) {
  struct Case {
    const char* text;
    int release;
    CacheFamily family;
  };
  const Case cases[] = {
      {"IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"25.0.3\"\nJAVA_VERSION_DATE=\"2026-04-21\"\n", 25,
       CacheFamily::AotCache},
      {"JAVA_VERSION=\"26-ea\"\n", 26, CacheFamily::AotCache},
      {"JAVA_RUNTIME_VERSION=\"17.0.15+6\"\nJAVA_VERSION=\"17.0.15\"\n", 17, CacheFamily::ArchiveAtExit},
      {"JAVA_VERSION=\"13\"", 13, CacheFamily::ArchiveAtExit},
      {"JAVA_VERSION=\"18.0.2.1\"\n", 18, CacheFamily::ArchiveAtExit},
      {"JAVA_VERSION=\"19.0.1\"\n", 19, CacheFamily::AutoArchive},
      {"JAVA_VERSION=\"24\"\n", 24, CacheFamily::AutoArchive},
      {"JAVA_VERSION=\"21.0.5\"\r\n", 21, CacheFamily::AutoArchive},
      {"JAVA_VERSION=\"12.0.2\"\n", 12, CacheFamily::None},
      {"JAVA_VERSION=\"11.0.25\"\n", 11, CacheFamily::None},
      {"JAVA_VERSION=\"1.8.0_392\"\n", 8, CacheFamily::None},
      {"JAVA_VERSION=1.8.0_392\n", 8, CacheFamily::None},
      // Unknown: no line, another key that merely begins alike, no number.
      {"", 0, CacheFamily::None},
      {"IMPLEMENTOR=\"x\"\n", 0, CacheFamily::None},
      {"JAVA_VERSION_DATE=\"2026-04-21\"\n", 0, CacheFamily::None},
      {"JAVA_VERSION=\"\"\n", 0, CacheFamily::None},
      {"JAVA_VERSION=\"ea\"\n", 0, CacheFamily::None},
      {"JAVA_VERSION=\"1.\"\n", 0, CacheFamily::None},
      {"JAVA_VERSION=\"99999999999999999999\"\n", 99999, CacheFamily::AotCache},
  };
  for (const Case& c : cases) {
    int release = jscParseRelease(c.text);
    if (c.release != 99999) {
      EXPECT_EQ(release, c.release) << c.text;
    }
    EXPECT_EQ(jscChooseFamily(release), c.family) << c.text;
  }
}

TEST(StartupCache, OptionsOfEachFamilyToMakeAndToUse) {
  const std::string cache = "/c/app-1-2.x";
  const std::string temp = "/c/app-1-2.x.tmp-7";
  EXPECT_EQ(jscFamilyOptions(CacheFamily::AotCache, false, cache, temp),
            (Options{"-XX:AOTMode=record", "-XX:AOTConfiguration=" + temp + ".config"}));
  EXPECT_EQ(jscFamilyOptions(CacheFamily::AotCache, true, cache, temp), Options{"-XX:AOTCache=" + cache});
  EXPECT_EQ(jscFamilyOptions(CacheFamily::AutoArchive, false, cache, temp),
            (Options{"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + temp}));
  EXPECT_EQ(jscFamilyOptions(CacheFamily::AutoArchive, true, cache, temp),
            (Options{"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + cache}));
  EXPECT_EQ(jscFamilyOptions(CacheFamily::ArchiveAtExit, false, cache, temp),
            Options{"-XX:ArchiveClassesAtExit=" + temp});
  EXPECT_EQ(jscFamilyOptions(CacheFamily::ArchiveAtExit, true, cache, temp),
            Options{"-XX:SharedArchiveFile=" + cache});
  EXPECT_TRUE(jscFamilyOptions(CacheFamily::None, false, cache, temp).empty());
  EXPECT_TRUE(jscFamilyOptions(CacheFamily::None, true, cache, temp).empty());
}

// The words of JAVA_TOOL_OPTIONS as the VM splits them: white space separates, quotes group.
TEST(StartupCache, OptionsVariableSplitsLikeTheVm) {
  struct Case {
    const char* text;
    Options words;
  };
  const Case cases[] = {
      {"", {}},
      {"   \t\n", {}},
      {"-Xmx1g", {"-Xmx1g"}},
      {"  -javaagent:/a.jar=x   -XX:-UseCompressedOops\n", {"-javaagent:/a.jar=x", "-XX:-UseCompressedOops"}},
      {"-Dname=\"two words\" -Dq='it is'", {"-Dname=two words", "-Dq=it is"}},
      {"-Dempty=\"\"", {"-Dempty="}},
      {"\"\"", {""}},
      {"-Dopen=\"never closed", {"-Dopen=never closed"}},
  };
  for (const Case& c : cases) EXPECT_EQ(jscSplitOptionsVariable(c.text), c.words) << c.text;
}

// The files a cache's state covers by content, and how agents are told apart.
TEST(StartupCache, ContentEntriesAndAgents) {
  EXPECT_EQ(jscContentEntries({"-Xmx1g", "-Djava.class.path=/a.jar::/b.jar:", "-Dother.path=/x.jar",
                               "-Xbootclasspath/a:/boot.jar", "-Xbootclasspath/p:/pre.jar", "-Xbootclasspath:/all.jar",
                               "-javaagent:/agent.jar=k=v", "-javaagent:/plain.jar", "-agentpath:/lib/a.so=opt",
                               "-agentlib:jdwp=transport=dt_socket"}),
            (Options{"/a.jar", "/b.jar", "/boot.jar", "/pre.jar", "/all.jar", "/agent.jar", "/plain.jar", "/lib/a.so"}));
  EXPECT_TRUE(jscContentEntries({"-Djava.class.path="}).empty());
  struct Case {
    const char* option;
    AgentKind kind;
  };
  const Case cases[] = {
      {"-agentlib:jdwp=transport=dt_socket,server=y", AgentKind::Debugger},
      {"-Xrunjdwp:transport=dt_socket", AgentKind::Debugger},
      {"-agentpath:/jdk/lib/libjdwp.so=server=y", AgentKind::Debugger},
      {"-javaagent:/opt/apm/agent.jar", AgentKind::Other},
      {"-agentlib:hprof", AgentKind::Other},
      {"-agentpath:/opt/profiler/libprof.so", AgentKind::Other},
      {"-Xrunhprof", AgentKind::Other},
      {"-Xmx1g", AgentKind::None},
      {"-Djavaagent=x", AgentKind::None},
  };
  for (const Case& c : cases) EXPECT_EQ(jscAgentKind(c.option), c.kind) << c.option;
}

// The files the class path's manifests name, followed through their own manifests, and
// the record lines that tell when one of them changed.
TEST(StartupCache, ManifestClosureAndItsRecord) {
  testsupport::TempDir dir;
  const auto jar = [&](const std::string& name, const std::string& classPath) {
    return dir.write(name, jarWithManifest("Manifest-Version: 1.0\r\nClass-Path: " + classPath + "\r\n\r\n"));
  };
  const std::string app =
      jar("app/app.jar", "dep.jar ../shared/a%25b.jar missing.jar classes/ plain.jar dep.jar");
  const std::string dep = jar("app/dep.jar", "app.jar nested.jar");
  const std::string odd = jar("shared/a%b.jar", "");
  const std::string nested = dir.write("app/nested.jar", "not a zip");
  const std::string plain = jar("app/plain.jar", "other.jar");
  dir.write("app/other.jar", "x");
  dir.makeDir("app/classes");
  // Named in any depth once; entries, directories and missing files are not; other.jar only
  // through plain.jar, an entry, whose manifest is read too.
  const std::vector<std::string> named = jscManifestClosure({app, plain, dir.path("absent.jar")});
  EXPECT_EQ(named, (Options{dep, dir.path("app/../shared/a%b.jar"), dir.path("app/other.jar"), nested}));
  EXPECT_TRUE(jscManifestClosure({dep + "-gone", nested}).empty());

  const std::string lines = jscDescribeFiles(named);
  const std::string record = "12 34 5.000000006 0123456789abcdef\ncontent 0123456789abcdef-12\n" + lines;
  EXPECT_EQ(jscChangedFile(record), std::nullopt) << record;
  EXPECT_EQ(jscChangedFile("12 34 5.000000006 0123456789abcdef\ncontent 0123456789abcdef-12\n"), std::nullopt)
      << "an older record lists no files";
  EXPECT_NE(lines.find("/a%25b.jar\n"), std::string::npos) << lines;

  // The same size and name, a new modification time: changed.
  struct stat before;
  ASSERT_EQ(::stat(dep.c_str(), &before), 0);
  const struct timespec times[2] = {before.st_atim, {before.st_mtim.tv_sec + 2, before.st_mtim.tv_nsec}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dep.c_str(), times, 0), 0);
  EXPECT_EQ(jscChangedFile(record), dep);
  ASSERT_EQ(::unlink(odd.c_str()), 0);
  EXPECT_EQ(jscChangedFile(jscDescribeFiles({dep}) + lines.substr(lines.find('\n') + 1)),
            dir.path("app/../shared/a%b.jar"))
      << "a file now missing";
  EXPECT_EQ(jscChangedFile("file 1 2\n"), "file 1 2") << "a damaged line";
}

// The classes a making run did not find: each name one line of the record, read back from
// it beside the other lines; names that cannot be one word of a line, and a last line cut
// short, name nothing. Without a cache in use no class is known to be absent.
TEST(StartupCache, AbsentClassesAndTheirRecord) {
  const std::string lines = jscDescribeAbsentClasses({"a/B", "has space", "", "c/D$E"});
  EXPECT_EQ(lines, "absent a/B\nabsent c/D$E\n");
  const std::string record = "12 34 5.000000006 0123456789abcdef\ncontent 0123456789abcdef-12\nfile 1 2 3.4 /x.jar\n" +
                             lines + "absent cut/Short";
  EXPECT_EQ(jscAbsentClasses(record), (std::vector<std::string>{"a/B", "c/D$E"}));
  EXPECT_EQ(jscChangedFile(lines), std::nullopt) << "not file lines";
  EXPECT_TRUE(jscAbsentClasses("12 34 5.000000006 0123456789abcdef\n").empty());
  jscInit();
  jscNoteClassAbsent("a/B");
  EXPECT_FALSE(jscClassKnownAbsent("a/B"));
  EXPECT_FALSE(jscIsRecordingRemark(" AOTConfiguration recorded: x\n"));
  jscTerm();
}

// Publishing or dropping without a prepared run does nothing, and twice is harmless.
TEST(StartupCache, PublishAndDiscardWithoutACacheDoNothing) {
  jscInit();
  jscPublishCache();
  jscDiscardCache();
  jscTerm();
  jscTerm();
}

}  // namespace
