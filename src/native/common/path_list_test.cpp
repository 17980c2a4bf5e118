#include "path_list.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "config_reader.h"
#include "launcher_location.h"
#include "test_support.h"
#include "trace.h"

namespace {

using testsupport::TempDir;
using testsupport::traceOf;

}  // namespace

TEST(PathList, MakeAbsPathNormalises) {
  EXPECT_EQ(utlMakeAbsPath("a/./b/../c", false), "a/c");
  EXPECT_EQ(utlMakeAbsPath("../../x", false), "../../x");
  EXPECT_EQ(utlMakeAbsPath("../a/../..", false), "../..");
  EXPECT_EQ(utlMakeAbsPath("a/../../b", false), "../b");
  EXPECT_EQ(utlMakeAbsPath("/../x", false), "/x");
  EXPECT_EQ(utlMakeAbsPath("/", false), "/");
  EXPECT_EQ(utlMakeAbsPath("/a/b/", false), "/a/b");
  EXPECT_EQ(utlMakeAbsPath("/a//b", false), "/a/b");
  EXPECT_EQ(utlMakeAbsPath("a\\b", false), "a/b");
  EXPECT_EQ(utlMakeAbsPath("", false), ".");
  EXPECT_EQ(utlMakeAbsPath("./.", false), ".");
  EXPECT_EQ(utlMakeAbsPath("a/..", false), ".");
  // An absolute path is never rebased.
  EXPECT_EQ(utlMakeAbsPath("/x/./y", true), "/x/y");
}

TEST(PathList, RelativePathsAreBasedOnTheConfigurationOrTheLauncher) {
  cfgTerm();
  hmdSetFullLauncherPath("/opt/app/bin");
  EXPECT_EQ(utlMakeAbsPath("lib", true), "/opt/app/bin/lib");
  EXPECT_EQ(utlMakeAbsPath("../lib/./x", true), "/opt/app/lib/x");

  TempDir dir;
  ASSERT_FALSE(dir.root().empty());
  std::string confDir = dir.makeDir("conf");
  std::string config = confDir + "/app.config";
  std::ofstream(config) << "";
  cfgInit();
  ASSERT_TRUE(cfgSetDefaultConfigFile(config));
  ASSERT_TRUE(cfgProcessConfig());
  ASSERT_EQ(cfgGetCurrentConfigFile(), config);
  EXPECT_EQ(utlMakeAbsPath("lib", true), confDir + "/lib");
  EXPECT_EQ(utlMakeAbsPath("lib", false), "lib");
  cfgSetConfigFileMode(1);
  EXPECT_EQ(utlMakeAbsPath("lib", true), "/opt/app/bin/lib");
  cfgTerm();
}

TEST(PathList, AddPathUniqueKeepsOneExistingEntryPerPath) {
  TempDir dir;
  ASSERT_FALSE(dir.root().empty());
  std::string lib = dir.makeDir("lib");
  cfgTerm();
  hmdSetFullLauncherPath(dir.root());

  PathArray array;
  utlAddPathUnique(array, "lib", true);
  utlAddPathUnique(array, lib + "/", true);
  utlAddPathUnique(array, dir.root() + "/x/../lib", false);
  EXPECT_EQ(array.entries(), std::vector<std::string>{lib});

  std::string trace = traceOf([&] { utlAddPathUnique(array, "missing/./a", true); });
  EXPECT_EQ(trace, "Ignoring '" + dir.root() + "/missing/a' - it does not exist\n");
  EXPECT_EQ(array.size(), 1u);
  // A name too long for the trace buffer is clipped in its line, not fatal.
  std::string longName = "/" + std::string(40000, 'a');
  trace = traceOf([&] { utlAddPathUnique(array, longName, false); });
  EXPECT_EQ(trace, "Ignoring '" + longName.substr(0, 16384) + "' - it does not exist\n");

  std::string classes = dir.makeDir("classes");
  PathArray fromString;
  utlPathStringToArray(fromString, "lib::classes:", true);
  EXPECT_EQ(fromString.entries(), (std::vector<std::string>{lib, classes}));
  EXPECT_EQ(utlPathArrayToString(fromString), lib + ":" + classes);
}

TEST(PathList, JoinAndRemove) {
  PathArray array;
  EXPECT_EQ(utlPathArrayToString(array), std::nullopt);
  array.append("/a");
  EXPECT_EQ(utlPathArrayToString(array), "/a");
  EXPECT_FALSE(array.append("/a"));
  array.append("/b/c");
  array.append("/d");

  utlRemoveFromPath(array, "\\b\\c");
  EXPECT_EQ(array.entries(), (std::vector<std::string>{"/a", "/d"}));
  // Not normalised: only the stored spelling matches.
  utlRemoveFromPath(array, "/a/");
  EXPECT_EQ(array.size(), 2u);
  utlRemoveFromPath(array, "/a");
  utlRemoveFromPath(array, "/d");
  EXPECT_TRUE(array.empty());
  utlRemoveFromPath(array, "/d");
  EXPECT_TRUE(array.empty());
  // A removed entry can be added again.
  EXPECT_TRUE(array.append("/a"));

  PathArray big;
  PathArray drop;
  for (int i = 0; i < 10000; ++i) {
    big.append("/jar" + std::to_string(i));
    if (i % 2 == 1) drop.append("/jar" + std::to_string(i));
  }
  drop.append("/not-there");
  utlRemoveFromArray(big, drop);
  ASSERT_EQ(big.size(), 5000u);
  EXPECT_EQ(big.entries()[1], "/jar2");
  EXPECT_FALSE(big.contains("/jar3"));
  EXPECT_TRUE(big.append("/jar3"));
  utlRemoveFromArray(big, PathArray());
  EXPECT_EQ(big.size(), 5001u);
}

TEST(PathList, SortTailIgnoresCase) {
  PathArray array;
  for (const char* p : {"/z", "/b.jar", "/A.jar", "/c.jar"}) array.append(p);
  array.sortTailIgnoringCase(1);
  EXPECT_EQ(array.entries(), (std::vector<std::string>{"/z", "/A.jar", "/b.jar", "/c.jar"}));
  array.sortTailIgnoringCase(10);
  EXPECT_EQ(array.size(), 4u);
}

TEST(PathList, FixDirSeparatorsStepsOverMultibyteCharacters) {
  EXPECT_EQ(utlFixDirSeparators(std::string_view("a\\b\\\\c")), "a/b//c");
  std::string text = "\\x\\";
  utlFixDirSeparators(text);
  EXPECT_EQ(text, "/x/");

  const char* previous = std::setlocale(LC_CTYPE, nullptr);
  std::string saved = previous != nullptr ? previous : "C";
  if (std::setlocale(LC_CTYPE, "ja_JP.SJIS") != nullptr) {
    EXPECT_EQ(utlFixDirSeparators(std::string_view("\x95\x5c\\a")), "\x95\x5c/a");
  }
  std::setlocale(LC_CTYPE, saved.c_str());
}

TEST(PathList, FileKindChecks) {
  TempDir dir;
  ASSERT_FALSE(dir.root().empty());
  std::string file = dir.root() + "/f";
  std::ofstream(file) << "x";
  EXPECT_TRUE(utlFileExists(file));
  EXPECT_FALSE(utlIsDir(file));
  EXPECT_TRUE(utlIsDir(dir.root()));
  EXPECT_FALSE(utlFileExists(dir.root() + "/none"));
  EXPECT_FALSE(utlIsDir(dir.root() + "/none"));

  // A socket's mode carries the directory bit among its type bits; it is no directory.
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socketPath = dir.root() + "/s";
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_TRUE(utlFileExists(socketPath));
  EXPECT_FALSE(utlIsDir(socketPath));
  close(fd);

  EXPECT_EQ(utlEnsurePathIsSecure(std::string("/a:/b")), "/a:/b");
  EXPECT_EQ(utlEnsurePathIsSecure(std::nullopt), std::nullopt);
}
