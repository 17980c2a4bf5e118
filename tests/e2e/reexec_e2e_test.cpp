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
