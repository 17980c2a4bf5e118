// End-to-end tests of the library path preparation and the one re-execution it may need,
// as root (first and second pass) and as an ordinary user.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

const char kExec[] = "Exec'ing '";
const char kLoaded[] = "Loaded Java VM Library libjvm.so from LD_LIBRARY_PATH";

size_t countPrefix(const std::string& text, const std::string& prefix) {
  auto all = e2e::lines(text);
  return static_cast<size_t>(
      std::count_if(all.begin(), all.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

class Reexec : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(home + "/lib/modules")) GTEST_SKIP() << "no " << home;
    tree.writeConfig("javahome " + home + "\nmainclass X\n");
  }
  static Env traced() { return Env().set("UTRACE", "-p"); }

  const std::string home = e2e::testJdkHome();
  const std::string required = home + "/lib/server:" + home + "/lib";
  AppTree tree;
};

}  // namespace

TEST_F(Reexec, RootFirstPassStartsFromEmptyPathAndExecsOnce) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  auto r = tree.run({"+help"}, traced().set("LD_LIBRARY_PATH", "/usr/lib:/lib"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(countPrefix(r.out, "export LD_LIBRARY_PATH="), 1u) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "export LD_LIBRARY_PATH=" + required)) << r.out;
  EXPECT_EQ(countPrefix(r.out, kExec), 1u) << r.out;
  EXPECT_EQ(countPrefix(r.out, kLoaded), 1u) << r.out;
  // The second process inherits the completed path and leaves it.
  EXPECT_TRUE(e2e::hasLine(r.out, "*setenv=0")) << r.out;
}

TEST_F(Reexec, RootSecondPassWithIncompletePathFails) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  auto r = tree.run({"+help"}, Env().set("LAUNCHER_ENV_CHECKED", "true").set("LD_LIBRARY_PATH", "/usr/lib"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Unable to start with setuid to root privileges.\n"
            "The following must be in the trusted directories list (see ldconfig(8)):\n"
            "\t" +
                required + ":/usr/lib\n");
}

TEST_F(Reexec, RootWithCompletePathNeedsNoExec) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  auto r = tree.run({"+help"}, traced().set("LAUNCHER_ENV_CHECKED", "true").set("LD_LIBRARY_PATH", required));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(countPrefix(r.out, "export LD_LIBRARY_PATH="), 0u) << r.out;
  EXPECT_EQ(countPrefix(r.out, kExec), 0u) << r.out;
  EXPECT_EQ(countPrefix(r.out, kLoaded), 1u) << r.out;
}

TEST_F(Reexec, AddLibPathDirectoriesAreAppended) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  tree.makeDir("native1");
  tree.makeDir("native2");
  tree.writeConfig("javahome " + home + "\naddlibpath " + tree.path("native1") + ":" + tree.path("native2") +
                   "\nmainclass X\n");
  auto r = tree.run({"+help"}, traced());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(
      r.out, "export LD_LIBRARY_PATH=" + required + ":" + tree.path("native1") + ":" + tree.path("native2")))
      << r.out;
  EXPECT_EQ(countPrefix(r.out, kExec), 1u) << r.out;
  EXPECT_EQ(countPrefix(r.out, kLoaded), 1u) << r.out;
}

TEST_F(Reexec, OrdinaryUserKeepsInheritedPath) {
  std::optional<uid_t> uid = e2e::unprivilegedUid();
  if (!uid && geteuid() == 0) GTEST_SKIP() << "no unprivileged user";
  e2e::RunOptions options;
  options.uid = uid;
  auto r = tree.run({"+help"}, traced().set("LD_LIBRARY_PATH", "/usr/lib"), options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(countPrefix(r.out, "export LD_LIBRARY_PATH="), 1u) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "export LD_LIBRARY_PATH=" + required + ":/usr/lib")) << r.out;
  EXPECT_EQ(countPrefix(r.out, kExec), 1u) << r.out;
  EXPECT_EQ(countPrefix(r.out, kLoaded), 1u) << r.out;

  // Already complete: no re-exec at all.
  r = tree.run({"+help"}, traced().set("LD_LIBRARY_PATH", "/opt/x:" + required), options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(countPrefix(r.out, "export LD_LIBRARY_PATH="), 0u) << r.out;
  EXPECT_EQ(countPrefix(r.out, kExec), 0u) << r.out;
  EXPECT_EQ(countPrefix(r.out, kLoaded), 1u) << r.out;

  // An ordinary user never gets the root refusal, marker or not.
  r = tree.run({"+help"}, traced().set("LAUNCHER_ENV_CHECKED", "true"), options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "export LD_LIBRARY_PATH=" + required)) << r.out;
  EXPECT_EQ(countPrefix(r.out, kLoaded), 1u) << r.out;
}

// Started as a bare name along a PATH with an empty entry (as a service manager or
// "exec -a" may start it), from a directory holding a file of the same name: the re-exec
// runs the launcher that was located, with the argument vector as given.
TEST_F(Reexec, ReexecRunsTheLocatedLauncherWithTheArgumentsAsGiven) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  tree.writeConfig("javahome " + home + "\nmainclass X\n");
  tree.writeFile("work/" + tree.name(), "#!/bin/sh\necho impostor\nexit 42\n", 0755);
  e2e::RunOptions options;
  options.argv0 = tree.name();
  options.cwd = tree.path("work");
  auto r =
      tree.run({"+javacmd", "one", "two words"}, traced().set("PATH", "/usr/bin::" + tree.bin()), options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("impostor"), std::string::npos) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "Exec'ing '" + tree.name() + "' to restart server.....")) << r.out;
  EXPECT_EQ(countPrefix(r.out, kExec), 1u) << r.out;
  // The second process parsed the same arguments and printed the script.
  EXPECT_EQ(countPrefix(r.out, "Processed <two words> application arg"), 2u) << r.out;
  EXPECT_NE(r.out.find(" X one \"two words\""), std::string::npos) << r.out;
}

// A configuration that sets LD_LIBRARY_PATH itself never finds it complete. An ordinary
// user gets one re-exec and then goes on; root keeps its second-pass refusal.
TEST_F(Reexec, PathThatNeverCompletesExecsOnce) {
  tree.writeConfig("export LD_LIBRARY_PATH=/usr/lib\njavahome " + home + "\nmainclass X\n");
  std::optional<uid_t> uid = e2e::unprivilegedUid();
  if (uid || geteuid() != 0) {
    e2e::RunOptions options;
    options.uid = uid;
    options.timeoutSeconds = 10;
    auto r = tree.run({"+help"}, traced(), options);
    ASSERT_FALSE(r.timedOut) << "re-executes without end";
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(countPrefix(r.out, kExec), 1u) << r.out.substr(0, 4000);
    EXPECT_TRUE(e2e::hasLine(
        r.out, "LD_LIBRARY_PATH is still incomplete after the re-exec; going on without another one"))
        << r.out.substr(0, 4000);
    EXPECT_EQ(r.out.find("LAUNCHER_LIBRARY_PATH_REEXEC"), std::string::npos);
  }
  if (geteuid() == 0) {
    e2e::RunOptions options;
    options.timeoutSeconds = 10;
    auto r = tree.run({"+help"}, traced(), options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countPrefix(r.out, kExec), 1u) << r.out.substr(0, 4000);
    EXPECT_NE(r.err.find("The following must be in the trusted directories list (see ldconfig(8)):\n"),
              std::string::npos)
        << r.err;
  }
}

// A Java 9-style installation below the tree whose java program writes its environment
// where -X help is expected, so the tests see what a child of the launcher inherits.
std::string makeEnvPrintingJdk(const AppTree& tree) {
  tree.writeFile("jdk/lib/modules", "");
  tree.writeFile("jdk/lib/jvm.cfg", "-server KNOWN\n");
  tree.writeFile("jdk/bin/java", "#!/bin/sh\nenv >&2\n", 0755);
  tree.writeFile("jdk/lib/server/libjvm.so", e2e::readFile(e2e::fakeJvmLibrary()), 0755);
  return tree.path("jdk");
}

// The marker of the re-exec is gone before anything the launcher starts can see it.
TEST_F(Reexec, ReexecMarkerNeverReachesChildren) {
  std::string jdk = makeEnvPrintingJdk(tree);
  tree.writeConfig("javahome " + jdk + "\n");
  auto r = tree.run({"-X"}, traced().set("LD_LIBRARY_PATH", "/usr/lib"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(countPrefix(r.out, kExec), 1u) << r.out;
  EXPECT_NE(r.out.find("\nLD_LIBRARY_PATH=" + jdk + "/lib/server:" + jdk + "/lib"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("LAUNCHER_LIBRARY_PATH_REEXEC"), std::string::npos) << r.out;
}

// With the library path complete, the VM library is taken out of LD_PRELOAD before any
// child starts; other preloaded libraries stay.
TEST_F(Reexec, CompletePathTakesTheVmLibraryOutOfPreload) {
#ifdef LAUNCHER_SANITIZED
  GTEST_SKIP()
      << "AddressSanitizer's runtime must come first in the library list; LD_PRELOAD puts others ahead";
#endif
  std::string jdk = makeEnvPrintingJdk(tree);
  tree.writeConfig("javahome " + jdk + "\n");
  Env env = traced()
                .set("LD_LIBRARY_PATH", jdk + "/lib/server:" + jdk + "/lib")
                .set("LAUNCHER_ENV_CHECKED", "true")
                .set("LD_PRELOAD", "libc.so.6 " + jdk + "/lib/server/libjvm.so");

  auto r = tree.run({"-X"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(countPrefix(r.out, kExec), 0u) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "LD_PRELOAD=libc.so.6")) << r.out;
}
